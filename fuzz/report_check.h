#pragma once
// What the report-scan targets share: the first byte of an input chooses the
// main window's controls, the rest is the downloaded page; scanReportFile
// reads the page from a file and must leave exactly what the plain reference
// reading (tests/reports/report_scan_reference.h) gives.
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

namespace reportcheck {

inline void require(bool condition) {
  if (!condition) std::abort();
}

// Bits 1-3 the zone (5: nothing selected), bits 4-5 the kind, bits 5-7 the
// luck field's text; bit 0 is the target's own.
inline ScanControls controlsFor(uint8_t choice) {
  static const char* const lucks[] = {"", "15", "$ff", "-1", "300", " 7x", "abc", "12345678901234567890123"};
  ScanControls controls;
  controls.zone = static_cast<uint8_t>((choice >> 1) % 6 == 5 ? 255 : (choice >> 1) % 6);
  controls.kind = static_cast<uint8_t>((choice >> 4) % 3);
  controls.luckField = lucks[(choice >> 5) & 7];
  return controls;
}

// The state the reference reading names its stats from, made once.
inline const AppState& referenceState() {
  static const AppState* state = [] {
    auto* s = new AppState();
    initState(*s);
    return s;
  }();
  return *state;
}

// scanReportFile over the page that lies at `path`, with these controls on
// the main window (opened once for the whole run), against the reference
// outcome.
inline void scanFileAndCompare(const std::string& path, const ScanControls& controls,
                               const scanref::Outcome& expected) {
  static AppState* state = [] {
    memui::reset();
    require(openMainWindow());
    fillChoiceLists();
    auto* s = new AppState();
    initState(*s);
    return s;
  }();
  selectIndex(ZoneCombo, controls.zone == 255 ? -1 : controls.zone);
  selectIndex(KindCombo, controls.kind);
  setControlText(LuckField, controls.luckField);
  setControlText(ResultLabel, txt::Downloaded);
  for (PendingExpedition& slot : state->PendingTable) slot = PendingExpedition{};
  state->pendingCount = 0;

  scanReportFile(*state, path);
  require(state->pendingCount == expected.pendingCount);
  for (size_t k = 0; k < kPendingSlots; ++k)
    require(scanref::sameSlot(state->PendingTable[k], expected.slots[k]));
  require(memui::shownText(ResultLabel) == expected.label.value_or(txt::Downloaded));
}

}  // namespace reportcheck
