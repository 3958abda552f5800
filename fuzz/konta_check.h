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
#include "app/state.h"
#include "app/ui.h"
#include "platform/memory/memory_ui.h"
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

// loadAccounts with these bytes as konta.txt, then saveAccounts; the
// accounts loaded.
template <class Files>
std::vector<Account> loadAndSave(const Files& files, const std::string& bytes) {
  openWindowsOnce();
  files.write(bytes);
  AppState state;
  initState(state);
  loadAccounts(state);
  require(memui::messages().empty());
  require(state.accountCount <= kAccountSlots);
  require(files.settled());
  std::vector<Account> accounts(state.AccountTable.begin(), state.AccountTable.begin() + state.accountCount);
  std::vector<std::string> names;
  for (const Account& account : accounts) names.push_back(account.name);
  require(memui::items(AccountCombo) == names && memui::items(AccountList) == names);
  emptyAccountLists();

  saveAccounts(state);
  require(memui::messages().empty());
  require(files.read() == formatKonta(accounts));
  require(files.settled());
  return accounts;
}

template <class Files>
void checkInput(const Files& files, const std::string& bytes) {
  const std::vector<Account> loaded = loadAndSave(files, bytes);
  // Loading is parseKonta over the lines readLine cuts, for every input; so
  // what was saved loads again as these accounts when its lines parse so.
  require(sameAccounts(parseKonta(readLineCut(bytes)), loaded));
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
