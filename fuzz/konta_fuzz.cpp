// konta.txt loader: any bytes as konta.txt load without a crash, into at most
// five accounts that both lists show; saving them writes exactly the format of
// what was loaded, and loading that again gives the same accounts. Bytes whose
// count line holds no number while more lines follow load no account, show
// the message, and the save leaves them as they are. The same bytes cut at LF
// into a list of lines also go straight to the parser.
//
//   build/fuzz/konta_fuzz -max_len=1024 <scratch folder> fuzz/corpus/konta_fuzz
// (libFuzzer adds what it finds to the first folder, so the seeds stay as they are).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/konta_file.h"
#include "model/state.h"
#include "model/ui.h"
#include "platform/fs.h"
#include "ui/memory/memory_ui.h"
#include "support/temp_dir.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool sameAccounts(const std::vector<Account>& a, const std::vector<Account>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].tag != b[i].tag || a[i].name != b[i].name || a[i].zone != b[i].zone || a[i].luck != b[i].luck ||
        a[i].kind != b[i].kind)
      return false;
  }
  return true;
}

// Whether the first line (up to NUL, LF, CR or CR LF) holds no number and
// some byte follows its end.
bool countLineWithoutNumberBeforeMore(const std::string& bytes) {
  const size_t end = bytes.find_first_of(std::string("\0\n\r", 3));
  if (end == std::string::npos || kontaCountLineHoldsNumber(std::string_view(bytes).substr(0, end)))
    return false;
  const size_t next =
      bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? end + 2 : end + 1;
  return next < bytes.size();
}

std::vector<Account> loadFrom(const TempCwd& dir, const std::string& bytes) {
  dir.write("konta.txt", bytes);
  memui::reset();
  require(openMainWindow());
  openSettingsWindow();
  AppState state;
  initState(state);
  loadAccounts(state);
  const bool unreadable = countLineWithoutNumberBeforeMore(bytes);
  require(state.accountsFileUnreadable == unreadable);
  require(memui::messages().size() == (unreadable ? 1u : 0u));
  require(state.accountCount <= kAccountSlots);
  std::vector<Account> accounts(state.AccountTable.begin(), state.AccountTable.begin() + state.accountCount);
  require(!unreadable || accounts.empty());
  std::vector<std::string> names;
  for (const Account& account : accounts) names.push_back(account.name);
  require(memui::items(AccountCombo) == names && memui::items(AccountList) == names);

  saveAccounts(state);
  require(memui::messages().size() == (unreadable ? 2u : 0u));
  require(dir.read("konta.txt") == (unreadable ? bytes : formatKonta(accounts)));
  return accounts;
}

// One folder for all inputs, made on first use and removed at exit. It is the
// working directory only while an input is loaded and saved.
const std::filesystem::path& startDir() {
  static const std::filesystem::path start = std::filesystem::current_path();
  return start;
}

const TempCwd& workDir() {
  static const TempCwd dir = [] {
    startDir();
    return TempCwd();
  }();
  return dir;
}

struct InWorkDir {
  InWorkDir() { std::filesystem::current_path(workDir().path()); }
  ~InWorkDir() { std::filesystem::current_path(startDir()); }
  InWorkDir(const InWorkDir&) = delete;
  InWorkDir& operator=(const InWorkDir&) = delete;
};

}  // namespace

// The loader works in the working directory, which each input changes for a
// while; libFuzzer reads its inputs and writes what it finds relative to the
// directory it started in, so that one is made absolute here.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<std::string> added;
  static std::vector<char*> arguments;
  for (int i = 0; i < *argc; ++i) {
    std::string argument = (*argv)[i];
    if (i > 0 && !argument.empty() && argument[0] != '-') argument = std::filesystem::absolute(argument).string();
    added.push_back(argument);
  }
  bool prefixed = false;
  for (const std::string& argument : added) prefixed = prefixed || argument.rfind("-artifact_prefix=", 0) == 0;
  if (!prefixed) added.push_back("-artifact_prefix=" + (std::filesystem::current_path() / "").string());
  for (std::string& argument : added) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  *argc = static_cast<int>(added.size());
  *argv = arguments.data();
  // Waiting for the disk at every save is of no use here and would cost most
  // of the time.
  platform::fsCalls().flush = [](platform::FileHandle) { return true; };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    const InWorkDir in;
    const std::vector<Account> loaded = loadFrom(workDir(), bytes);
    require(sameAccounts(parseKonta(formatKontaLines(loaded)), loaded));
    require(sameAccounts(loadFrom(workDir(), formatKonta(loaded)), loaded));
  }

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
  return 0;
}
