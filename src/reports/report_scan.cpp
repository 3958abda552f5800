#include "reports/report_scan.h"

#include "app/texts.h"
#include "app/ui.h"
#include "reports/download.h"
#include "reports/scan_reader.h"
#include "text/line_file.h"

void checkReport(AppState& state) {
  // All 25 slots: a slot that an earlier check filled must not lend its
  // items to this one.
  for (PendingExpedition& slot : state.PendingTable) slot = PendingExpedition{};
  state.pendingCount = 0;

  setControlText(ResultLabel, txt::Downloading);
  const std::string path = workingDirectoryPath() + "temp.html";
  if (downloadToFile(controlText(LinkField).c_str(), path) == 0) {
    // Nothing is read; the batch of an earlier check is gone with the reset.
    setControlText(ResultLabel, txt::DownloadFailed);
    return;
  }
  setControlText(ResultLabel, txt::Downloaded);
  scanReportFile(state, path);
}

std::string extractBetween(std::string_view text, std::string_view marker1, std::string_view marker2,
                           std::string_view terminator, uint8_t n) {
  return std::string(extractView(text, marker1, marker2, terminator, n));
}

const std::string& yesNoText(int64_t flag) { return (flag & 0xff) == 1 ? txt::Yes : txt::No; }
