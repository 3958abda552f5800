// Report scan, in memory: any bytes as a downloaded page are read without a
// crash or a read outside a text, leave at most 25 expeditions pending, and
// give exactly what the plain reference reading (one copied text per working
// value) gives: the same 25 slots, pendingCount and result text.
//
// The first byte chooses the main window's controls (report_check.h) and,
// with its lowest bit, which of the program's two ways reads the rest, the
// page: even, the reader fed the page's lines (where the number of lines read
// and the read state must match too); odd, the whole way, scanReportFile
// reading temp.html through LineFile from files held in memory, in reads of
// 61 bytes, so that line ends fall at every place of a read. One way per
// input keeps the target fast; report_scan_file_fuzz reads the page from a
// real file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "report_check.h"
#include "support/memory_fs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using reportcheck::require;
  if (size == 0) return 0;
  const ScanControls controls = reportcheck::controlsFor(data[0]);
  const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);
  const scanref::Outcome expected =
      scanref::readPage(page, controls, reportcheck::referenceState().StatNames);

  if ((data[0] & 1) == 0) {
    static AppState* state = [] {
      auto* s = new AppState();
      initState(*s);
      return s;
    }();
    const scanref::Outcome actual = scanref::readPageWithProgram(page, controls, *state);
    require(actual.pendingCount <= kPendingSlots);
    require(scanref::sameOutcome(expected, actual));
    return 0;
  }

  static MemoryFs* fs = [] {  // the whole run, never given back
    auto* files = new MemoryFs();
    files->setReadLimit(61);
    return files;
  }();
  const std::string path = fs->directory() + "temp.html";
  fs->put(path, std::string(page));
  reportcheck::scanFileAndCompare(path, controls, expected);
  require(fs->openCount() == 0);
  fs->clear();  // what an input made is gone behind it, as libFuzzer's leak check expects
  return 0;
}
