// Report scan: any bytes as a downloaded page are read without a crash or a
// read outside a text, leave at most 25 expeditions pending, and give exactly
// what the plain reference reading (one copied text per working value) gives:
// the same 25 slots, pendingCount, result text and number of lines read.
//
// The first byte chooses the main window's controls; the rest is the page.
// Inputs whose first byte is odd also go the program's whole way: written to
// temp.html and read back through LineFile by scanReportFile.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/app.h"
#include "model/state.h"
#include "model/texts.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "reports/report_scan_reference.h"
#include "reports/scan_reader.h"
#include "support/temp_dir.h"
#include "text/line_file.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

ScanControls controlsFor(uint8_t choice) {
  static const char* const lucks[] = {"", "15", "$ff", "-1", "300", " 7x", "abc", "12345678901234567890123"};
  ScanControls controls;
  controls.zone = static_cast<uint8_t>((choice >> 1) % 6 == 5 ? 255 : (choice >> 1) % 6);
  controls.kind = static_cast<uint8_t>((choice >> 4) % 3);
  controls.luckField = lucks[(choice >> 5) & 7];
  return controls;
}

void readThroughFile(std::string_view page, const ScanControls& controls, const scanref::Outcome& expected) {
  static TempCwd* dir = new TempCwd();  // one folder for the whole run
  dir->write("temp.html", std::string(page));
  memui::reset();
  require(openMainWindow());
  fillChoiceLists();
  selectIndex(ZoneCombo, controls.zone == 255 ? -1 : controls.zone);
  selectIndex(KindCombo, controls.kind);
  setControlText(LuckField, controls.luckField);
  setControlText(ResultLabel, txt::Downloaded);

  AppState state;
  initState(state);
  scanReportFile(state, workingDirectoryPath() + "temp.html");
  require(state.pendingCount == expected.pendingCount);
  for (size_t k = 0; k < kPendingSlots; ++k) require(scanref::sameSlot(state.PendingTable[k], expected.slots[k]));
  require(memui::shownText(ResultLabel) == expected.label.value_or(txt::Downloaded));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ScanControls controls = controlsFor(data[0]);
  const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);

  static AppState* state = [] {
    auto* s = new AppState();
    initState(*s);
    return s;
  }();
  const scanref::Outcome expected = scanref::readPage(page, controls, state->StatNames);
  const scanref::Outcome actual = scanref::readPageWithProgram(page, controls, *state);
  require(actual.pendingCount <= kPendingSlots);
  require(scanref::sameOutcome(expected, actual));

  if (data[0] & 1) readThroughFile(page, controls, expected);
  return 0;
}
