#pragma once
// The check, as the main window runs it: download the report page into
// temp.html, then read it with scan_reader.h into PendingTable.
#include <cstdint>
#include <string>
#include <string_view>

#include "model/state.h"
#include "reports/scan_reader.h"

// What the scan reads of the main window, taken once per check.
ScanControls readScanControls();

// Reads the downloaded page at `path` into the pending table and sets
// ResultLabel as the reading goes; then tidies the items. The table has
// been reset and the label says the download succeeded.
void scanReportFile(AppState& state, const std::string& path);

void checkReport(AppState& state);
