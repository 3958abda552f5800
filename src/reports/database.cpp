#include "reports/database.h"

#include <string_view>

#include "accounts/account_names.h"
#include "model/texts.h"
#include "model/ui.h"
#include "platform/fs.h"
#include "text/line_file.h"
#include "text/text.h"

namespace {

// One line per pending expedition, slot 0 first: kind, zone, luck, chance,
// stat, success, the batch mark and the items, each followed by ";", and
// CR LF. Kind comes before zone, unlike the fields of PendingExpedition.
std::string batchLines(const AppState& state) {
  const std::string batchMark = state.pendingCount == 1 ? "1" : "2";
  std::string lines;
  for (int i = 0; i < state.pendingCount; ++i) {
    const PendingExpedition& e = state.PendingTable[static_cast<size_t>(i)];
    for (const uint8_t field : {e.kind, e.zone, e.luck, e.chance, e.stat, e.success}) {
      lines += formatInteger(field);
      lines += ';';
    }
    lines += batchMark;
    lines += ';';
    lines += e.items;  // page bytes, unchanged; a ";" in a name stays
    lines += ";\r\n";
  }
  return lines;
}

// Appends `bytes` behind the file's contents, creating the file empty when it
// is missing: all of them, on disk, or none. This goes to the file-system
// calls directly rather than through LineFile, which neither reports a failed
// write nor can cut a file back. On any failure the file is left as it was:
// cut back to its old length, or removed again if this call created it.
bool appendAllOrNothing(const std::string& path, std::string_view bytes) {
  platform::FsCalls& fs = platform::fsCalls();
  const bool existed = fs.exists(path);
  const platform::FileHandle file = fs.open(path, platform::OpenMode::ReadWriteOrCreate);
  if (file == platform::kNoFile) return false;
  const int64_t oldLength = fs.size(file);
  bool done = oldLength >= 0 && fs.seek(file, oldLength);
  if (done && !bytes.empty()) done = platform::writeAll(file, bytes) && fs.flush(file);
  if (!done && existed && oldLength >= 0) {
    fs.truncate(file, oldLength);
    fs.flush(file);
  }
  // Once flushed the lines are on disk; a failing close cannot take them back.
  fs.close(file);
  if (!done && !existed) fs.remove(path);
  return done;
}

}  // namespace

void appendPendingExpeditions(AppState& state) {
  // An account name that cannot be a plain file name here (a path, a device,
  // "konta", whose database would be the settings file) is refused like a
  // database that cannot be written. Either way the batch and the link stay,
  // so that the player can try again.
  const std::string account = controlText(AccountCombo);
  if (!isUsableAccountFileName(account) ||
      !appendAllOrNothing(workingDirectoryPath() + account + ".txt", batchLines(state))) {
    setControlText(ResultLabel, txt::AppendFailed);
    return;
  }
  setControlText(ResultLabel, state.pendingCount == 0 ? txt::NothingPending : txt::Appended);
  state.pendingCount = 0;
  setControlText(LinkField, txt::Empty);
}
