#include "accounts/accounts.h"

#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "accounts/account_names.h"
#include "accounts/konta_file.h"
#include "model/texts.h"
#include "model/ui.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "text/line_file.h"
#include "text/text.h"

namespace {

constexpr int kFileNumber = 0;

std::string kontaPath() { return workingDirectoryPath() + "konta.txt"; }

std::span<const Account> accountsInUse(const AppState& state) {
  return {state.AccountTable.data(), std::min<size_t>(state.accountCount, kAccountSlots)};
}

void showSettingsFileError() { showMessage(txt::ErrorTitle, txt::SettingsFileError); }

// Writes the lines into the file, each ending in CR LF, stores them on disk
// and closes the file; false on any failure (the file is closed all the same).
bool storeLines(platform::File file, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (!file.writeAll(line + "\r\n")) return false;
  }
  return file.flush() && file.close();
}

// Replaces the file at path with the lines, each ending in CR LF, so that
// the old file is either kept whole or replaced whole: the lines go to a
// temporary file beside it, which is stored on disk and then renamed over
// it. A file that may not be written is not replaced; for a symbolic link
// the file it leads to is, with the temporary file beside that one (a
// rename is atomic only within one folder). LineFile reports no write
// errors, so this goes to the file layer directly. On any failure the
// temporary file is removed.
bool replaceFile(const std::string& path, const std::vector<std::string>& lines) {
  platform::FsCalls& fs = platform::fsCalls();
  const std::string target = fs.replacementTarget(path);
  if (target.empty()) return false;
  const std::string temporary = target + ".tmp";
  platform::File file(temporary, platform::OpenMode::ReadWriteTruncate);
  if (!file.isOpen()) return false;
  const bool written = storeLines(std::move(file), lines);  // closed from here on
  const bool stored = written && fs.rename(temporary, target);
  if (!stored) fs.remove(temporary);
  return stored;
}

Account& current(AppState& state) { return state.AccountTable[std::min<size_t>(state.currentAccount, kAccountSlots - 1)]; }

}  // namespace

void loadAccounts(AppState& state) {
  const std::string path = kontaPath();
  if (!openForRead(kFileNumber, path)) {
    // A missing file is a first start: the first save creates it. A file
    // that is there but could not be read holds accounts this run does not
    // know, so no save of this run may replace it.
    if (platform::fsCalls().exists(path)) state.accountsFileUnreadable = true;
    showSettingsFileError();
    return;
  }
  std::vector<std::string> lines{readLine(kFileNumber)};
  // A count line without a number in front of more lines, or a read that
  // failed anywhere, leaves accounts unknown to this run in the file: it
  // counts as a file that could not be read, and is never replaced.
  bool readable = kontaCountLineHoldsNumber(lines.front()) || atEnd(kFileNumber);
  if (readable) {
    const size_t lineCount = kontaLineCount(lines.front());
    while (lines.size() < lineCount) lines.push_back(readLine(kFileNumber));
  }
  readable = readable && !readFailed(kFileNumber);
  closeFile(kFileNumber);
  if (!readable) {
    state.accountsFileUnreadable = true;
    showSettingsFileError();
    return;
  }

  const std::vector<Account> accounts = parseKonta(lines);
  for (size_t slot = 0; slot < accounts.size(); ++slot) {
    state.AccountTable[slot] = accounts[slot];
    appendItem(AccountCombo, accounts[slot].name);
    appendItem(AccountList, accounts[slot].name);
  }
  state.accountCount = static_cast<uint8_t>(accounts.size());
}

void saveAccounts(AppState& state) {
  if (state.accountsFileUnreadable || !replaceFile(kontaPath(), formatKontaLines(accountsInUse(state)))) {
    showSettingsFileError();
  }
}

void selectAccount(AppState& state, int32_t index) {
  if (index < 0 || index >= kAccountSlots) return;
  const Account& account = state.AccountTable[static_cast<size_t>(index)];
  selectIndex(AccountCombo, index);
  selectIndex(ZoneCombo, account.zone);
  selectIndex(KindCombo, account.kind);
  setControlText(LuckField, formatInteger(account.luck));
  state.currentAccount = static_cast<uint8_t>(index);
}

void addAccount(AppState& state) {
  if (state.accountCount >= kAccountSlots) {
    showMessage(txt::AccountsTitle, txt::AtMostFiveAccounts);
    return;
  }
  const std::string name = controlText(NewAccountField);
  // The name becomes the database file's name; the field keeps a refused
  // name so that the user can correct it.
  if (!isUsableAccountFileName(name)) {
    showMessage(txt::ErrorTitle, txt::NotAFileName);
    return;
  }
  Account& account = state.AccountTable[state.accountCount];
  account = Account{};
  account.name = name;
  account.zone = 3;  // "4s"
  account.luck = 0;
  account.kind = 1;  // "daleka"
  appendItem(AccountList, name);
  appendItem(AccountCombo, name);
  ++state.accountCount;
  setControlText(NewAccountField, txt::Empty);
}

void deleteAccount(AppState& state) {
  if (state.accountCount < 2) {
    showMessage(txt::AccountsTitle, txt::KeepOneAccount);
    return;
  }
  const int32_t position = selectedIndex(AccountList);
  if (position < 0 || position >= state.accountCount) return;  // the lists always match the table
  const auto first = state.AccountTable.begin();
  std::move(first + position + 1, first + state.accountCount, first + position);
  --state.accountCount;
  state.AccountTable[state.accountCount] = Account{};
  removeItem(AccountCombo, position);
  removeItem(AccountList, position);
  selectAccount(state, 0);
}

void storeZone(AppState& state) { current(state).zone = static_cast<uint8_t>(selectedIndex(ZoneCombo)); }

void storeLuck(AppState& state) {
  current(state).luck = static_cast<uint8_t>(parseInteger(controlText(LuckField)));
}

void storeKind(AppState& state) { current(state).kind = static_cast<uint8_t>(selectedIndex(KindCombo)); }
