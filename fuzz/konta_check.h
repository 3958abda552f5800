#pragma once
// What the konta.txt targets check of one input, whether konta.txt lies in
// memory (konta_fuzz) or on disk (konta_file_fuzz): any bytes as konta.txt
// load without a crash into at most five accounts, which both lists show and
// which are exactly what the file's lines (cut as readLine cuts them)
// describe; saving them writes exactly the format of what was loaded and
// leaves nothing behind, and the saved bytes describe the same accounts. The
// same bytes cut at LF into a list of lines also go straight to the parser.
//
// `Files` holds konta.txt: write(bytes) puts it in place, read() gives its
// bytes, settled() says that no file is left open and no temporary file
// lies beside it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/konta_file.h"
#include "model/state.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "reports/report_scan_reference.h"

namespace kontacheck {

inline void require(bool condition) {
  if (!condition) std::abort();
}

inline bool sameAccounts(const std::vector<Account>& a, const std::vector<Account>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].tag != b[i].tag || a[i].name != b[i].name || a[i].zone != b[i].zone || a[i].luck != b[i].luck ||
        a[i].kind != b[i].kind)
      return false;
  }
  return true;
}

// The lines of a file as readLine cuts them.
inline std::vector<std::string> readLineCut(const std::string& bytes) {
  const std::vector<std::string_view> cut = scanref::pageLines(bytes);
  return {cut.begin(), cut.end()};
}

// Both windows, opened once for the whole run: the two account lists are
// emptied again behind every load, so each load finds them as at start-up.
inline void openWindowsOnce() {
  static const bool opened = [] {
    memui::reset();
    require(openMainWindow());
    openSettingsWindow();
    return true;
  }();
  (void)opened;
}

inline void emptyAccountLists() {
  for (const int32_t list : {AccountCombo, AccountList}) {
    for (size_t n = memui::items(list).size(); n > 0; --n) removeItem(list, 0);
  }
}

// Whether the first line (up to NUL, LF, CR or CR LF) holds no number and
// some byte follows its end: such a file is unreadable and never written.
inline bool countLineWithoutNumberBeforeMore(const std::string& bytes) {
  const size_t end = bytes.find_first_of(std::string("\0\n\r", 3));
  if (end == std::string::npos || kontaCountLineHoldsNumber(std::string_view(bytes).substr(0, end))) return false;
  const size_t next = bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? end + 2 : end + 1;
  return next < bytes.size();
}

// loadAccounts with these bytes as konta.txt, then saveAccounts; the
// accounts loaded. An unreadable file loads none, shows the message at the
// load and at the save, and keeps its bytes.
template <class Files>
std::vector<Account> loadAndSave(const Files& files, const std::string& bytes) {
  openWindowsOnce();
  files.write(bytes);
  const bool unreadable = countLineWithoutNumberBeforeMore(bytes);
  memui::clearMessages();
  AppState state;
  initState(state);
  loadAccounts(state);
  require(state.accountsFileUnreadable == unreadable);
  require(memui::messages().size() == (unreadable ? 1u : 0u));
  require(state.accountCount <= kAccountSlots);
  require(!unreadable || state.accountCount == 0);
  require(files.settled());
  std::vector<Account> accounts(state.AccountTable.begin(), state.AccountTable.begin() + state.accountCount);
  std::vector<std::string> names;
  for (const Account& account : accounts) names.push_back(account.name);
  require(memui::items(AccountCombo) == names && memui::items(AccountList) == names);
  emptyAccountLists();

  saveAccounts(state);
  require(memui::messages().size() == (unreadable ? 2u : 0u));
  require(files.read() == (unreadable ? bytes : formatKonta(accounts)));
  require(files.settled());
  return accounts;
}

template <class Files>
void checkInput(const Files& files, const std::string& bytes) {
  const std::vector<Account> loaded = loadAndSave(files, bytes);
  // Loading is parseKonta over the lines readLine cuts, for every readable
  // input; so what was saved loads again as these accounts.
  if (!countLineWithoutNumberBeforeMore(bytes)) require(sameAccounts(parseKonta(readLineCut(bytes)), loaded));
  require(sameAccounts(parseKonta(formatKontaLines(loaded)), loaded));
  require(sameAccounts(parseKonta(readLineCut(formatKonta(loaded))), loaded));

  std::vector<std::string> lines(1);
  for (const char byte : bytes) {
    if (byte == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += byte;
    }
  }
  const std::vector<Account> parsed = parseKonta(lines);
  require(parsed.size() <= static_cast<size_t>(kAccountSlots));
  require(sameAccounts(parseKonta(formatKontaLines(parsed)), parsed));
}

}  // namespace kontacheck
