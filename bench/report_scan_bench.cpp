// The report scan over generated pages: a report line of 10 MB with 25
// expeditions (each one's stretch padded with ordinary page markup, so every
// search of the scan has to cross it), and a page of 200 KB shaped like a
// real message page. Bytes per second are the page bytes scanned.
//
// Then a whole check of a 100 KB page from a loopback server (download,
// scan, summary) beside `curl -s -o` fetching the same page: compare the two
// times per iteration.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/app.h"
#include "model/state.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "reports/download.h"
#include "reports/report_scan.h"
#include "reports/report_scan_reference.h"
#include "reports/scan_reader.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/line_file.h"

namespace {

const std::string kLuckLabel = "SZCZ\xC4\x98\xC5\x9A" "CIE: ";

// Ordinary markup of a message page: tags every few dozen bytes, Polish text
// in UTF-8, attributes with '=', '<' and '>' everywhere; no marker of the scan.
const std::string kFiller =
    "<div class='opis'><span class='tekst'>Ruszasz w drog\xC4\x99 przez g\xC4\x99sty las, a \xC5\x9B"
    "cie\xC5\xBCka wije si\xC4\x99 mi\xC4\x99" "dzy drzewami.</span> <a href='/profil?id=1234'>Gracz</a> "
    "<img src='gfx/ikony/las.png' alt=''></div>\n";

std::string expedition(int k, size_t padding) {
  std::string e = "<div><img src='gfx/quests/las/m_" + std::to_string(k % 9) + "1.gif'> szansa powodzenia: <b>" +
                  std::to_string(k) + "%</b> " + kLuckLabel + "<b>" + std::to_string(k % 20) + "</b> ";
  for (int i = 0; i < 3; ++i) {
    e += "<span class='item-caption'><i class='qitem_" + std::to_string(i) + "'>Przedmiot " + std::to_string(i) +
         "</span> ";
  }
  while (e.size() < padding) e += kFiller.substr(0, kFiller.size() - 1);  // one line: no line end
  return e + "</div>";
}

std::string reportLine(int expeditions, size_t totalBytes) {
  std::string line = "<div class='msg-content msg-quest'>";
  for (int k = 1; k <= expeditions; ++k) line += expedition(k, totalBytes / static_cast<size_t>(expeditions));
  return line + "</div>";
}

// A message page: head and navigation lines, the report line, more lines.
std::string messagePage(size_t totalBytes) {
  std::string page = "<!DOCTYPE html>\n<html><head><title>Wiadomo\xC5\x9B\xC4\x87</title></head><body>\n";
  while (page.size() < totalBytes / 2) page += kFiller;
  page += reportLine(3, 6000) + "\n";
  while (page.size() < totalBytes) page += kFiller;
  return page + "</body></html>\n";
}

void scanLines(benchmark::State& run, const std::string& page) {
  const std::vector<std::string_view> lines = scanref::pageLines(page);
  AppState state;
  initState(state);
  ScanControls controls;
  controls.zone = 2;
  controls.luckField = "15";
  for (auto _ : run) {
    for (PendingExpedition& slot : state.PendingTable) slot = PendingExpedition{};
    state.pendingCount = 0;
    ReportReader reader(state, controls);
    for (std::string_view line : lines) {
      if (reader.finished()) break;
      reader.feedLine(line);
    }
    tidyPendingItems(state);
    benchmark::DoNotOptimize(state.PendingTable[24].items.data());
  }
  if (state.pendingCount == 0) run.SkipWithError("the page held no expedition");
  run.SetBytesProcessed(static_cast<int64_t>(run.iterations()) * static_cast<int64_t>(page.size()));
}

void BM_ScanReportLine10MB(benchmark::State& run) {
  static const std::string page = reportLine(25, 10u << 20) + "\n";
  scanLines(run, page);
}
BENCHMARK(BM_ScanReportLine10MB)->Unit(benchmark::kMillisecond);

void BM_ScanPage200KB(benchmark::State& run) {
  static const std::string page = messagePage(200u << 10);
  scanLines(run, page);
}
BENCHMARK(BM_ScanPage200KB)->Unit(benchmark::kMicrosecond);

// The same 10 MB page from temp.html: LineFile's reading plus the scan, as
// the check does it after the download.
void BM_ScanReportFile10MB(benchmark::State& run) {
  const std::string page = reportLine(25, 10u << 20) + "\n";
  TempCwd dir;
  dir.write("temp.html", page);
  memui::reset();
  openMainWindow();
  fillChoiceLists();
  AppState state;
  initState(state);
  const std::string path = workingDirectoryPath() + "temp.html";
  for (auto _ : run) {
    for (PendingExpedition& slot : state.PendingTable) slot = PendingExpedition{};
    state.pendingCount = 0;
    scanReportFile(state, path);
  }
  if (state.pendingCount != 25) run.SkipWithError("the page was not read");
  run.SetBytesProcessed(static_cast<int64_t>(run.iterations()) * static_cast<int64_t>(page.size()));
  memui::reset();
}
BENCHMARK(BM_ScanReportFile10MB)->Unit(benchmark::kMillisecond);

const std::string& page100KB() {
  static const std::string page = messagePage(100u << 10);
  return page;
}

void BM_WholeCheck100KB(benchmark::State& run) {
  TempCwd dir;
  HttpTestServer server(CannedReply::page(page100KB()));
  memui::reset();
  openMainWindow();
  fillChoiceLists();
  startNetwork();
  setControlText(LinkField, server.url("/wiadomosc?id=1"));
  AppState state;
  initState(state);
  for (auto _ : run) checkReport(state);
  if (state.pendingCount != 3 || dir.read("temp.html") != page100KB()) run.SkipWithError("the check failed");
  stopNetwork();
  memui::reset();
}
BENCHMARK(BM_WholeCheck100KB)->Unit(benchmark::kMillisecond)->UseRealTime();

extern "C" char** environ;

void BM_Curl100KB(benchmark::State& run) {
  TempCwd dir;
  HttpTestServer server(CannedReply::page(page100KB()));
  std::vector<std::string> args = {"curl", "-s", "-o", "curl.html", server.url("/wiadomosc?id=1")};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto _ : run) {
    pid_t pid = 0;
    int status = 1;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0 || waitpid(pid, &status, 0) != pid ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      run.SkipWithError("curl failed");
      break;
    }
  }
  if (dir.read("curl.html") != page100KB()) run.SkipWithError("curl fetched something else");
}
BENCHMARK(BM_Curl100KB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
