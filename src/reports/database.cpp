#include "reports/database.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "accounts/account_names.h"
#include "model/texts.h"
#include "model/ui.h"
#include "platform/file.h"
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

// Appends `bytes` at the end of the file and stores them on disk; on a
// failure a file that `existed` before is cut back to its old length. The
// file is closed on the way out without asking how the close went: once
// flushed the lines are on disk, and a failing close cannot take them back.
bool appendOrCutBack(platform::File file, std::string_view bytes, bool existed) {
  const int64_t oldLength = file.size();
  bool done = oldLength >= 0 && file.seek(oldLength);
  if (done && !bytes.empty()) done = file.writeAll(bytes) && file.flush();
  if (!done && existed && oldLength >= 0) {
    file.truncate(oldLength);
    file.flush();
  }
  return done;
}

// Appends `bytes` behind the file's contents, creating the file empty when it
// is missing: all of them, on disk, or none. This goes to the file-system
// calls directly rather than through LineFile, which neither reports a failed
// write nor can cut a file back. On any failure the file is left as it was:
// cut back to its old length, or removed again if this call created it.
bool appendAllOrNothing(const std::string& path, std::string_view bytes) {
  const bool existed = platform::fsCalls().exists(path);
  platform::File file(path, platform::OpenMode::ReadWriteOrCreate);
  if (!file.isOpen()) return false;
  const bool done = appendOrCutBack(std::move(file), bytes, existed);  // closed from here on
  if (!done && !existed) platform::fsCalls().remove(path);
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
