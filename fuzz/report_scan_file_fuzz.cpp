// Report scan from a real file: every input's page is written to temp.html in
// a temporary folder and read back by scanReportFile through LineFile and the
// platform's file calls; what it leaves must be what the plain reference
// reading gives (report_check.h). Slow (each input is a file written and
// read); report_scan_fuzz makes the same comparison in memory.
//
// The first byte chooses the main window's controls; the rest is the page.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "report_check.h"
#include "support/temp_dir.h"
#include "text/line_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ScanControls controls = reportcheck::controlsFor(data[0]);
  const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);
  const scanref::Outcome expected =
      scanref::readPage(page, controls, reportcheck::referenceState().StatNames);

  static TempCwd* dir = new TempCwd();  // one folder for the whole run
  dir->write("temp.html", std::string(page));
  reportcheck::scanFileAndCompare(workingDirectoryPath() + "temp.html", controls, expected);
  return 0;
}
