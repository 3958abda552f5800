#include "accounts/konta_file.h"

#include <algorithm>
#include <cstdint>

#include "text/text.h"

namespace {

constexpr size_t kLinesPerRecord = 6;

// The narrow fields keep the low-order bits of whatever number the line holds.
uint8_t low8(std::string_view line) { return static_cast<uint8_t>(parseInteger(line)); }
int32_t low32(std::string_view line) { return static_cast<int32_t>(static_cast<uint32_t>(parseInteger(line))); }

}  // namespace

size_t kontaRecordCount(std::string_view countLine) {
  return std::min<size_t>(low8(countLine), static_cast<size_t>(kAccountSlots));
}

bool kontaCountLineHoldsNumber(std::string_view countLine) { return holdsInteger(countLine); }

size_t kontaLineCount(std::string_view countLine) { return 1 + kLinesPerRecord * kontaRecordCount(countLine); }

std::vector<Account> parseKonta(const std::vector<std::string>& lines) {
  const auto line = [&lines](size_t index) -> std::string_view {
    return index < lines.size() ? std::string_view(lines[index]) : std::string_view();
  };
  std::vector<Account> accounts(kontaRecordCount(line(0)));
  for (size_t slot = 0; slot < accounts.size(); ++slot) {
    const size_t first = 1 + kLinesPerRecord * slot;  // the position line, not used
    Account& account = accounts[slot];
    account.tag = low32(line(first + 1));
    account.name = std::string(line(first + 2));
    account.zone = low8(line(first + 3));
    account.luck = low8(line(first + 4));
    account.kind = low8(line(first + 5));
  }
  return accounts;
}

std::vector<std::string> formatKontaLines(std::span<const Account> accounts) {
  std::vector<std::string> lines;
  lines.reserve(1 + kLinesPerRecord * accounts.size());
  lines.push_back(formatInteger(static_cast<int64_t>(accounts.size())));
  for (size_t slot = 0; slot < accounts.size(); ++slot) {
    const Account& account = accounts[slot];
    lines.push_back(formatInteger(static_cast<int64_t>(slot)));
    lines.push_back(formatInteger(account.tag));
    lines.push_back(account.name);
    lines.push_back(formatInteger(account.zone));
    lines.push_back(formatInteger(account.luck));
    lines.push_back(formatInteger(account.kind));
  }
  return lines;
}

std::string formatKonta(std::span<const Account> accounts) {
  std::string bytes;
  for (const std::string& line : formatKontaLines(accounts)) {
    bytes += line;
    bytes += "\r\n";
  }
  return bytes;
}
