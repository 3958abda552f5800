#pragma once
// Windows-1250 conversions, used only at the platform edge (UTF-16 for the
// Win32 W functions, UTF-8 for GTK and Linux file names). A character that
// Windows-1250 cannot hold becomes '?', as on a Polish Windows.
#include <string>
#include <string_view>

std::string cp1250ToUtf8(std::string_view cp1250);
std::string utf8ToCp1250(std::string_view utf8);
std::u16string cp1250ToUtf16(std::string_view cp1250);
std::string utf16ToCp1250(std::u16string_view utf16);
// True when the UTF-8 text converts to Windows-1250 and back unchanged.
bool utf8FitsCp1250(std::string_view utf8);
