#pragma once
// Whether an account name can be the base of a plain file name in the working
// directory on both Windows and Linux. Refused: path separators, the bytes
// : * ? " < > |, control bytes, Windows device names (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, also with an extension) in any letter case, and "konta" in
// any letter case, whose database would be the settings file konta.txt.
#include <string_view>

bool isUsableAccountFileName(std::string_view name);
