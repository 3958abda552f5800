#include "reports/report_scan.h"

#include "model/texts.h"
#include "model/ui.h"
#include "reports/download.h"
#include "reports/scan_reader.h"
#include "text/line_file.h"

ScanControls readScanControls() {
  ScanControls controls;
  // A selected index of -1 (nothing selected) keeps its low 8 bits: 255.
  controls.zone = static_cast<uint8_t>(selectedIndex(ZoneCombo));
  controls.kind = static_cast<uint8_t>(selectedIndex(KindCombo));
  controls.luckField = controlText(LuckField);
  return controls;
}

void scanReportFile(AppState& state, const std::string& path) {
  if (openForRead(0, path)) {
    ReportReader reader(state, readScanControls());
    while (!atEnd(0) && !reader.finished()) reader.feedLine(readLine(0));
    if (const std::string* text = reader.resultText()) setControlText(ResultLabel, *text);
  } else {
    setControlText(ResultLabel, txt::CannotReadFile);
  }
  closeFile(0);
  tidyPendingItems(state);
}

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
