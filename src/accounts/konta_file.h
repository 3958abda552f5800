#pragma once
// konta.txt as text, apart from any file: the count line, then six lines per
// account in slot order (position, tag, name, zone, luck, kind). Reading is
// lenient (parseInteger, low 8 or 32 bits kept, missing lines empty); the
// file I/O around these functions lives in accounts.cpp.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/state.h"

// How many accounts a count line announces, reduced to what the table holds:
// parseInteger modulo 256, then at most kAccountSlots.
size_t kontaRecordCount(std::string_view countLine);

// Whether the count line begins with a number as parseInteger reads one
// (blanks, a sign, "$" or "%", then a digit), rather than giving 0 for want
// of one. A count line without a number in front of more lines (a UTF-8
// byte-order mark, a stray letter) is no konta.txt this program wrote, and
// reading it as 0 accounts would lose the records behind it.
bool kontaCountLineHoldsNumber(std::string_view countLine);

// How many lines a reader takes from the start of the file, the count line
// included; every line behind them is never read.
size_t kontaLineCount(std::string_view countLine);

// The accounts the lines describe, in slot order, at most kAccountSlots of
// them. Lines missing at the end read as empty text; the position line of a
// record is not used.
std::vector<Account> parseKonta(const std::vector<std::string>& lines);

// The lines of the file for these accounts, without line ends.
std::vector<std::string> formatKontaLines(std::span<const Account> accounts);
// The whole file: every line of formatKontaLines followed by CR LF.
std::string formatKonta(std::span<const Account> accounts);
