#include "reports/report_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "model/texts.h"
#include "model/ui.h"
#include "platform/fs.h"
#include "ui/memory/memory_ui.h"
#include "reports/report_scan_reference.h"
#include "reports/scan_reader.h"
#include "support/call_tables.h"
#include "support/fs_faults.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/line_file.h"
#include "text/text.h"

namespace {

// The page is UTF-8; the tool's own texts are Windows-1250. Both are written
// here as bytes so that a wrong conversion anywhere shows.
const std::string kLuckLabel = "SZCZ\xC4\x98\xC5\x9A" "CIE: ";   // UTF-8, as the page has it
const std::string kHelm = "He\xC5\x82m";                          // "Hełm" in UTF-8

const std::string kStatNames[10] = {
    // The splits end hex escapes; no comma is missing.
    // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
    "si\xB3" "a", "zwinno\x9C\xE6", "odporno\x9C\xE6", "wygl\xB9" "d", "charyzma",
    "wp\xB3ywy", "spostrzegawczo\x9C\xE6", "inteligencja", "wiedza", "",
};

std::string summary(int count, int stat, const std::string& chance, const std::string& luck, bool success) {
  return "Poprawnie odczytano: " + std::to_string(count) + " wypraw.\nstat: " + kStatNames[stat] +
         ", szansa: " + chance + "%\nszcz\xEA\x9C" "cie: " + luck + ", udana: " + (success ? "tak" : "nie");
}
const std::string kNoReportFound = "Nie znaleziono informacji o wyprawach w pliku.";
const std::string kDownloaded = "Plik pobrany poprawnie.";

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(WYPRAWY_FIXTURES) + "/reports/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Pieces of a report page as the game writes them.
std::string item(const std::string& name) {
  return "<span class='item-caption'><i class='qitem_1'>" + name + "</span> ";
}
// An item whose name begins behind byte 60 of its caption.
std::string wideItem(const std::string& name) {
  return "<span class='item-caption'><i class='qitem_1' title='" + std::string(18, 't') + "'>" + name + "</span> ";
}
std::string expedition(const std::string& image, const std::string& chance, const std::string& luck,
                       const std::string& items = "") {
  return "<div><img src='gfx/quests/las/" + image + "'> szansa powodzenia: <b>" + chance + "%</b> " + kLuckLabel +
         "<b>" + luck + "</b> " + items + "</div>";
}
std::string reportLine(const std::string& expeditions) {
  return "<div class='msg-content msg-quest'>" + expeditions + "</div>";
}
std::string captionLine(const std::string& name) { return "<p>" + item(name) + "</p>"; }

struct Slot {
  int luck, chance, stat, success;
  std::string items;
};

void expectSlot(const PendingExpedition& actual, const Slot& expected, int index) {
  SCOPED_TRACE("slot " + std::to_string(index));
  EXPECT_EQ(actual.luck, expected.luck);
  EXPECT_EQ(actual.chance, expected.chance);
  EXPECT_EQ(actual.stat, expected.stat);
  EXPECT_EQ(actual.success, expected.success);
  EXPECT_EQ(actual.items, expected.items);
}

// The main window as after start-up, with zone 3s (index 2), kind bliska
// (index 0) and luck 15 chosen.
class ReportScan : public ::testing::Test {
 protected:
  void SetUp() override {
    memui::reset();
    ASSERT_TRUE(openMainWindow());
    fillChoiceLists();
    selectIndex(ZoneCombo, 2);
    selectIndex(KindCombo, 0);
    setControlText(LuckField, "15");
    initState(state);
  }
  void TearDown() override { memui::reset(); }

  // `page` as temp.html, read as after a download that succeeded.
  void scan(const std::string& page) {
    cwd.write("temp.html", page);
    for (PendingExpedition& slot : state.PendingTable) slot = PendingExpedition{};
    state.pendingCount = 0;
    setControlText(ResultLabel, txt::Downloaded);
    scanReportFile(state, workingDirectoryPath() + "temp.html");
  }

  TempCwd cwd;
  AppState state;
};

TEST_F(ReportScan, FirstWorkedExampleTwoExpeditionsWithItems) {
  const std::string page = fixture("two_expeditions.html");
  ASSERT_FALSE(page.empty());
  // The image markers stand where the example says.
  const std::string line = std::string(scanref::pageLines(page)[1]);
  EXPECT_EQ(findText(line, "><img src=", 1), 40);
  EXPECT_EQ(findText(line, "><img src=", 41), 259);

  scan(page);
  ASSERT_EQ(state.pendingCount, 2);
  expectSlot(state.PendingTable[0], {12, 75, 3, 1, "Miecz, Tarcza"}, 0);
  expectSlot(state.PendingTable[1], {15, 40, 7, 0, ""}, 1);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(state.PendingTable[k].zone, 2);
    EXPECT_EQ(state.PendingTable[k].kind, 0);
  }
  EXPECT_EQ(memui::shownText(ResultLabel),
            "Poprawnie odczytano: 2 wypraw.\nstat: inteligencja, szansa: 40%\nszcz\xEA\x9C" "cie: 15, udana: nie");
}

TEST_F(ReportScan, SecondWorkedExampleItemOnLaterLine) {
  scan(fixture("item_on_later_line.html"));
  ASSERT_EQ(state.pendingCount, 1);
  expectSlot(state.PendingTable[0], {8, 60, 5, 1, kHelm}, 0);
  EXPECT_EQ(memui::shownText(ResultLabel),
            "Poprawnie odczytano: 1 wypraw.\nstat: wp\xB3ywy, szansa: 60%\nszcz\xEA\x9C" "cie: 8, udana: tak");
}

struct PageCase {
  const char* name;
  std::string page;
  std::string luckField;
  int pendingCount;
  std::string label;
  std::vector<Slot> slots;  // slots 0, 1, ... as far as given
};

void PrintTo(const PageCase& c, std::ostream* out) { *out << c.name; }

std::vector<PageCase> pageCases() {
  const std::string name43(43, 'n');
  const std::string name44(44, 'x');
  const std::string name33(33, 'w');
  std::string thirty;
  for (int k = 1; k <= 30; ++k) {
    thirty += expedition("m_" + std::to_string(k % 9) + "1.gif", std::to_string(k), std::to_string(100 + k));
  }
  const std::string one = reportLine(expedition("m_51.gif", "60", "8"));
  const std::string noMarkers = "<div class='msg-content msg-quest'><p>pusto</p></div>";
  return {
      {"NoReportLine", "<html><body>\n<p>nic</p>\n</body></html>\n", "15", 0, kNoReportFound, {}},
      {"EmptyFile", "", "15", 0, kDownloaded, {}},
      {"ReportLineWithoutMarkersFirst", noMarkers + "\n<p>x</p>\n", "15", 0, kDownloaded, {}},
      {"ReportLineWithoutMarkersLater", "<html>\n" + noMarkers + "\n", "15", 0, kNoReportFound, {}},
      {"LuckFromLuckField", reportLine(expedition("m_70.gif", "40", "")), "15", 1,
       summary(1, 7, "40", "15", false), {{15, 40, 7, 0, ""}}},
      {"LuckEmptyEverywhere", reportLine(expedition("m_70.gif", "40", "")), "", 1,
       summary(1, 7, "40", "", false), {{0, 40, 7, 0, ""}}},
      // Without the luck's label the search for "<b>" starts at byte 12 and
      // finds the chance's: its digits with the percent sign.
      {"LuckLabelMissing",
       reportLine("<div><img src='gfx/quests/las/m_70.gif'> szansa powodzenia: <b>40%</b> <b>12</b></div>"), "15",
       1, summary(1, 7, "40", "40%", false), {{40, 40, 7, 0, ""}}},
      {"LuckLabelLowerCase",
       reportLine("<div><img src='gfx/quests/las/m_70.gif'> szansa powodzenia: <b>40%</b> szcz\xC4\x99\xC5\x9B"
                  "cie: <b>12</b></div>"),
       "15", 1, summary(1, 7, "40", "40%", false), {{40, 40, 7, 0, ""}}},
      {"LuckLabelInWindows1250",
       reportLine("<div><img src='gfx/quests/las/m_70.gif'> szansa powodzenia: <b>40%</b> SZCZ\xCA\x8C"
                  "CIE: <b>12</b></div>"),
       "15", 1, summary(1, 7, "40", "40%", false), {{40, 40, 7, 0, ""}}},
      {"ImageCodeOneDigit", reportLine(expedition("m_5.gif", "60", "8")), "15", 1,
       summary(1, 5, "60", "8", false), {{8, 60, 5, 5, ""}}},
      {"ImageCodeNine", reportLine(expedition("m_9x.gif", "60", "8")), "15", 1, summary(1, 9, "60", "8", false),
       {{8, 60, 9, 0, ""}}},
      {"ImageCodeNotADigit", reportLine(expedition("m_x1.gif", "60", "8")), "15", 1,
       summary(1, 0, "60", "8", true), {{8, 60, 0, 1, ""}}},
      {"ImageWithoutGif", reportLine(expedition("m_31.png", "60", "8")), "15", 1,
       summary(1, 0, "60", "8", false), {{8, 60, 0, 0, ""}}},
      {"ImageCodeSixBytes", reportLine(expedition("m_234561.gif", "60", "8")), "15", 1,
       summary(1, 2, "60", "8", true), {{8, 60, 2, 1, ""}}},
      {"ImageCodeSevenBytes", reportLine(expedition("m_2345671.gif", "60", "8")), "15", 1,
       summary(1, 0, "60", "8", false), {{8, 60, 0, 0, ""}}},
      {"ChanceFiveBytesAndSix", reportLine(expedition("m_11.gif", "12345", "8") + expedition("m_11.gif", "123456", "8")),
       "15", 2, summary(2, 1, "", "8", true), {{8, 12345 & 0xff, 1, 1, ""}, {8, 0, 1, 1, ""}}},
      {"ItemNames43And44Bytes", reportLine(expedition("m_11.gif", "60", "8", item(name43) + item(name44))), "15",
       1, summary(1, 1, "60", "8", true), {{8, 60, 1, 1, name43 + ", "}}},
      {"ItemName44BytesAlone", reportLine(expedition("m_11.gif", "60", "8", item(name44))), "15", 1,
       summary(1, 1, "60", "8", true), {{8, 60, 1, 1, ""}}},
      // The name's ">" at byte 60 of the caption's 100: "</span>" must end
      // by byte 100, so 33 bytes of name fit and 34 do not.
      {"ItemEndsOnByte100", reportLine(expedition("m_11.gif", "60", "8", wideItem(name33))), "15", 1,
       summary(1, 1, "60", "8", true), {{8, 60, 1, 1, name33}}},
      {"ItemEndsOnByte101", reportLine(expedition("m_11.gif", "60", "8", wideItem(name33 + "x"))), "15", 1,
       summary(1, 1, "60", "8", true), {{8, 60, 1, 1, ""}}},
      {"ItemNameLeadingBlanks",
       reportLine(expedition("m_11.gif", "60", "8", item("Miecz") + item(" Tarcza") + item("  Luk"))), "15", 1,
       summary(1, 1, "60", "8", true), {{8, 60, 1, 1, "Miecz, Tarcza,  Luk"}}},
      {"CaptionsOnLaterLineStopTheReading",
       one + "\n" + "<p>" + item(kHelm) + item("Kolczuga") + "</p>\n" + captionLine("Tarcza") + "\n", "15", 1,
       summary(1, 5, "60", "8", true), {{8, 60, 5, 1, kHelm + ", Kolczuga"}}},
      {"LaterCaptionGoesToLastExpedition",
       reportLine(expedition("m_11.gif", "10", "1") + expedition("m_20.gif", "20", "2")) + "\n" +
           captionLine(kHelm),
       "15", 2, summary(2, 2, "20", "2", false), {{1, 10, 1, 1, ""}, {2, 20, 2, 0, kHelm}}},
      {"CaptionInReportStopsBeforeLaterLine",
       reportLine(expedition("m_11.gif", "10", "1", item("Miecz"))) + "\n" + captionLine(kHelm), "15", 1,
       summary(1, 1, "10", "1", true), {{1, 10, 1, 1, "Miecz"}}},
      {"CaptionBeforeReportLineIgnored", captionLine("Stary") + "\n" + one + "\n" + captionLine(kHelm), "15", 1,
       summary(1, 5, "60", "8", true), {{8, 60, 5, 1, kHelm}}},
      // Captions with no expedition pending have no slot; they are passed by
      // and a later report line is still read.
      {"CaptionsWithNothingPendingIgnored",
       reportLine("<p>" + item("Zgubiony") + "</p>") + "\n" + captionLine("Stary") + "\n" + one + "\n" +
           captionLine(kHelm),
       "15", 1, summary(1, 5, "60", "8", true), {{8, 60, 5, 1, kHelm}}},
      {"SecondReportLineReadAgain",
       reportLine(expedition("m_11.gif", "10", "1") + expedition("m_20.gif", "20", "2")) + "\n" + one + "\n", "15",
       1, summary(1, 5, "60", "8", true), {{8, 60, 5, 1, ""}}},
      {"MoreThan25ExpeditionsFillTheSlots", reportLine(thirty) + "\n" + captionLine(kHelm), "15", 25,
       summary(25, 7, "25", "125", true),
       {{101, 1, 1, 1, ""}, {102, 2, 2, 1, ""}, {103, 3, 3, 1, ""}, {104, 4, 4, 1, ""}, {105, 5, 5, 1, ""},
        {106, 6, 6, 1, ""}, {107, 7, 7, 1, ""}, {108, 8, 8, 1, ""}, {109, 9, 0, 1, ""}, {110, 10, 1, 1, ""},
        {111, 11, 2, 1, ""}, {112, 12, 3, 1, ""}, {113, 13, 4, 1, ""}, {114, 14, 5, 1, ""}, {115, 15, 6, 1, ""},
        {116, 16, 7, 1, ""}, {117, 17, 8, 1, ""}, {118, 18, 0, 1, ""}, {119, 19, 1, 1, ""}, {120, 20, 2, 1, ""},
        {121, 21, 3, 1, ""}, {122, 22, 4, 1, ""}, {123, 23, 5, 1, ""}, {124, 24, 6, 1, ""},
        {125, 25, 7, 1, kHelm}}},
      // Markers closer than 21 bytes: the first expedition's stretch runs to
      // the end of the line, the second one is cut from its last three bytes
      // and finds nothing but LuckField's luck.
      {"MarkersTooClose",
       "<div class='msg-content msg-quest'><p><img src=><img src='gfx/quests/a/m_41.gif'> szansa powodzenia: "
       "<b>75%</b> " + kLuckLabel + "<b>9</b></p></div>",
       "15", 2, summary(2, 0, "", "15", false), {{9, 75, 4, 1, ""}, {15, 0, 0, 0, ""}}},
      // readLine ends lines at CR, LF, CR LF and NUL alike.
      {"NulEndsALine", one + std::string(1, '\0') + captionLine(kHelm), "15", 1, summary(1, 5, "60", "8", true),
       {{8, 60, 5, 1, kHelm}}},
      {"LoneCrEndsALine", one + "\r" + captionLine(kHelm), "15", 1, summary(1, 5, "60", "8", true),
       {{8, 60, 5, 1, kHelm}}},
  };
}

class ReportPages : public ReportScan, public ::testing::WithParamInterface<PageCase> {};

TEST_P(ReportPages, SlotsCountAndResult) {
  const PageCase& c = GetParam();
  setControlText(LuckField, c.luckField);
  scan(c.page);
  EXPECT_EQ(state.pendingCount, c.pendingCount);
  EXPECT_EQ(memui::shownText(ResultLabel), c.label);
  for (size_t k = 0; k < c.slots.size(); ++k) {
    expectSlot(state.PendingTable[k], c.slots[k], static_cast<int>(k));
    EXPECT_EQ(state.PendingTable[k].zone, 2);
    EXPECT_EQ(state.PendingTable[k].kind, 0);
  }
  // Whatever the reading met, the reference reading of the same page agrees.
  const scanref::Outcome expected = scanref::readPage(c.page, readScanControls(), state.StatNames);
  EXPECT_EQ(expected.pendingCount, state.pendingCount);
  for (size_t k = 0; k < kPendingSlots; ++k) EXPECT_TRUE(scanref::sameSlot(expected.slots[k], state.PendingTable[k]));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportPages, ::testing::ValuesIn(pageCases()),
                         [](const ::testing::TestParamInfo<PageCase>& info) { return info.param.name; });

TEST_F(ReportScan, NoSelectionKeepsLowBitsAndReadsControlsOfTheCheck) {
  selectIndex(ZoneCombo, -1);
  selectIndex(KindCombo, 2);
  scan(reportLine(expedition("m_11.gif", "300", "-1")));
  ASSERT_EQ(state.pendingCount, 1);
  EXPECT_EQ(state.PendingTable[0].zone, 255);
  EXPECT_EQ(state.PendingTable[0].kind, 2);
  EXPECT_EQ(state.PendingTable[0].luck, 255);  // -1
  EXPECT_EQ(state.PendingTable[0].chance, 44);  // 300
}

TEST_F(ReportScan, ItemsOfExpeditionsBeyond25AreLeftOut) {
  std::string thirty;
  for (int k = 1; k <= 30; ++k) {
    std::string name = "I";
    name += std::to_string(k);
    thirty += expedition("m_11.gif", std::to_string(k), "1", item(name));
  }
  scan(reportLine(thirty));
  ASSERT_EQ(state.pendingCount, 25);
  EXPECT_EQ(state.PendingTable[0].items, "I1");
  EXPECT_EQ(state.PendingTable[24].items, "I25");
  EXPECT_EQ(state.PendingTable[24].chance, 25);
  EXPECT_EQ(memui::shownText(ResultLabel), summary(25, 1, "25", "1", true));
}

TEST_F(ReportScan, MissingTempFileSaysItCannotBeRead) {
  state.pendingCount = 0;
  setControlText(ResultLabel, txt::Downloaded);
  scanReportFile(state, workingDirectoryPath() + "temp.html");
  EXPECT_EQ(memui::shownText(ResultLabel), "Nie uda\xB3o si\xEA odczyta\xE6 pliku.");
  EXPECT_EQ(state.pendingCount, 0);
  EXPECT_FALSE(cwd.has("temp.html"));
}

TEST(ExtractBetween, WindowsAndMissingMarkers) {
  struct Case {
    std::string text, m1, m2, term;
    uint8_t n;
    std::string expected;
  };
  const Case cases[] = {
      {"a<b>12</b>", "a", "<b>", "</b>", 10, "12"},
      {"a<b>123456</b>", "a", "<b>", "</b>", 10, "123456"},  // terminator ends on the 10th byte
      {"a<b>1234567</b>", "a", "<b>", "</b>", 10, ""},       // one byte too far
      // No marker1: marker2 is searched from position length(marker1) - 1
      // (0 counts as 1).
      {"<b>7</b><b>8</b>", "a", "<b>", "</b>", 10, "7"},
      {"<b>7</b><b>8</b>", "abcd", "<b>", "</b>", 10, "8"},
      {"123</b>", "a", "<b>", "</b>", 10, "3"},  // no marker2: the piece begins at position 3
      {"xa>7</b>", "xa", "a>", "</b>", 10, "7"},  // marker2 may begin on marker1's last byte
      {"ab", "a", "b", "", 10, ""},                          // empty terminator is never found
      {"a<b>12</b>", "a", "<b>", "</b>", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(extractBetween(c.text, c.m1, c.m2, c.term, c.n), c.expected);
    EXPECT_EQ(extractBetween(c.text, c.m1, c.m2, c.term, c.n),
              scanref::extractBetween(c.text, c.m1, c.m2, c.term, c.n));
  }
}

TEST(YesNoText, LowEightBitsDecide) {
  EXPECT_EQ(yesNoText(1), "tak");
  EXPECT_EQ(yesNoText(257), "tak");
  EXPECT_EQ(yesNoText(0), "nie");
  EXPECT_EQ(yesNoText(5), "nie");
  EXPECT_EQ(yesNoText(-255), "tak");
}

// Random pages made of the markers, their pieces and line ends: the program's
// reader and the reference reading must agree on every one of them.
// Crowded pages put an image marker in every other piece: report lines with
// dozens of markers, many closer than 21 bytes.
std::string randomPage(std::mt19937& rng, bool crowded) {
  static const std::vector<std::string> pieces = {
      "><img src=", "<img src=", "><img sr", "gfx/quests/", "/m_", ".gif", "szansa powodzenia: ", "<b>", "%</b>",
      "</b>", kLuckLabel, "SZCZ\xC4\x98", "item-caption", "item-", "qitem_", ">", "</span>", " ", "  ", "   ",
      "msg-content msg-quest", "\n", "\r", "\r\n", std::string(1, '\0'), "0", "1", "5", "9", "31", "$f", "-",
      "%", "+", "x", "Miecz", "\xC5\x82", "<", "/", "'", "a", "abcdefghijklmnopqrstuvwxyz0123456789"};
  std::uniform_int_distribution<size_t> length(0, 400);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string page;
  const size_t n = length(rng);
  for (size_t i = 0; i < n; ++i) {
    const size_t p = (crowded && byte(rng) < 128) ? 0 : pick(rng);
    if (p == 0 && byte(rng) < 16) {
      page += std::string(static_cast<size_t>(byte(rng)), 'z');  // a long stretch between markers
    } else if (p == 1 && byte(rng) < 64) {
      page += static_cast<char>(byte(rng));
    } else {
      page += pieces[p];
    }
  }
  return page;
}

TEST(ReportReader, AgreesWithReferenceOnRandomPages) {
  AppState state;
  initState(state);
  std::mt19937 rng(20261211);
  std::uniform_int_distribution<int> small(0, 300);
  int withExpeditions = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::string page = randomPage(rng, i % 2 == 1);
    ScanControls controls;
    controls.zone = static_cast<uint8_t>(small(rng));
    controls.kind = static_cast<uint8_t>(small(rng));
    controls.luckField = (i % 3 == 0) ? "" : std::to_string(small(rng));
    const scanref::Outcome expected = scanref::readPage(page, controls, state.StatNames);
    const scanref::Outcome actual = scanref::readPageWithProgram(page, controls, state);
    ASSERT_TRUE(scanref::sameOutcome(expected, actual)) << "page " << i << ": " << ::testing::PrintToString(page);
    if (expected.pendingCount > 0) ++withExpeditions;
  }
  EXPECT_GT(withExpeditions, 400);  // the pages do exercise the expeditions
}

// The in-memory line splitter used by the reference, the fuzz target and the
// benchmark splits pages exactly as LineFile's readLine does.
TEST(ReportReader, PageLinesMatchReadLine) {
  TempCwd cwd;
  std::mt19937 rng(7);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\0'};
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> pick(0, 4);
  for (int i = 0; i < 500; ++i) {
    std::string page;
    for (int k = length(rng); k > 0; --k) page += alphabet[pick(rng)];
    cwd.write("temp.html", page);
    ASSERT_TRUE(openForRead(0, workingDirectoryPath() + "temp.html"));
    std::vector<std::string> read;
    while (!atEnd(0)) read.push_back(readLine(0));
    closeFile(0);
    const std::vector<std::string_view> split = scanref::pageLines(page);
    ASSERT_EQ(std::vector<std::string>(split.begin(), split.end()), read) << ::testing::PrintToString(page);
  }
}

}  // namespace

namespace {

// The whole program over the in-memory windows: real start-up with one
// account (Gracz: zone 3s, luck 15, kind bliska), the event loop with its
// dispatch, and a loopback server that serves the report pages.
class CheckAndAppend : public ::testing::Test {
 protected:
  void SetUp() override {
    memui::reset();
    cwd.write("konta.txt", "1\r\n0\r\n0\r\nGracz\r\n2\r\n15\r\n0\r\n");
    ASSERT_TRUE(startUp(state));
    ASSERT_EQ(controlText(AccountCombo), "Gracz");
  }
  void TearDown() override {
    shutDown(state, true);
    memui::reset();
  }

  // Plays the scripted events; what ResultLabel showed before each one and
  // at the end.
  std::vector<std::string> play() {
    std::vector<std::string> shown;
    memui::onWait([&shown] { shown.push_back(memui::shownText(ResultLabel)); });
    runEventLoop(state);
    memui::onWait(nullptr);
    return shown;
  }
  void check(const std::string& url) {
    memui::userType(LinkField, url);
    memui::userClick(CheckButton);
  }

  TempCwd cwd;
  AppState state;
};

const std::string kFirstSummary =
    "Poprawnie odczytano: 2 wypraw.\nstat: inteligencja, szansa: 40%\nszcz\xEA\x9C" "cie: 15, udana: nie";
const std::string kAppended = "Dodano do bazy";
const std::string kNothingPending = "Brak nowych wypraw!";
const std::string kDownloadFailed = "Pobieranie pliku nie powiod\xB3o sie!";
const std::string kAppendFailed = "Nie uda\xB3o si\xEA dopisa\xE6 do bazy!";

TEST_F(CheckAndAppend, CheckThenAppendWritesTheBatch) {
  const std::string page = fixture("two_expeditions.html");
  HttpTestServer server(CannedReply::page(page));
  ASSERT_TRUE(server.running());
  check(server.url("/wiadomosc?id=5"));
  memui::userClick(AppendButton);
  // Before typing the link, before the check, before the append, at the end.
  EXPECT_EQ(play(), (std::vector<std::string>{"wynik", "wynik", kFirstSummary, kAppended}));

  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.lastRequest().rfind("GET /wiadomosc?id=5 HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(cwd.read("temp.html"), page);
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;2;12;75;3;1;2;Miecz, Tarcza;\r\n0;2;15;40;7;0;2;;\r\n");
  EXPECT_EQ(memui::shownText(LinkField), "");
  EXPECT_EQ(state.pendingCount, 0);
}

// What ResultLabel says while the check runs, seen from the file system:
// when temp.html is opened to be written by the download and to be read by
// the scan.
std::vector<std::string>* labelsAtOpen = nullptr;
const platform::FsCalls* callsBeforeSpy = nullptr;

platform::FileHandle openAndNoteLabel(const std::string& path, platform::OpenMode mode) {
  if (path.size() >= 9 && path.compare(path.size() - 9, 9, "temp.html") == 0) {
    labelsAtOpen->push_back(memui::shownText(ResultLabel));
  }
  return callsBeforeSpy->open(path, mode);
}

TEST_F(CheckAndAppend, StatusTextsWhileTheCheckRuns) {
  HttpTestServer server(CannedReply::page(fixture("two_expeditions.html")));
  std::vector<std::string> labels;
  labelsAtOpen = &labels;
  {
    ScopedCalls<platform::FsCalls> fs;
    callsBeforeSpy = &fs.saved();
    fs->open = &openAndNoteLabel;
    setControlText(LinkField, server.url("/r"));
    dispatchControlEvent(state, CheckButton);
  }
  labelsAtOpen = nullptr;
  EXPECT_EQ(labels, (std::vector<std::string>{"pobieranie pliku", "Plik pobrany poprawnie."}));
  EXPECT_EQ(memui::shownText(ResultLabel), kFirstSummary);
}

TEST_F(CheckAndAppend, BatchOfOneThenNothingMoreToAppend) {
  HttpTestServer server(CannedReply::page(fixture("item_on_later_line.html")));
  check(server.url("/r"));
  memui::userClick(AppendButton);
  memui::userClick(AppendButton);
  const std::vector<std::string> shown = play();
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[3], kAppended);
  EXPECT_EQ(shown[4], kNothingPending);
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;2;8;60;5;1;1;He\xC5\x82m;\r\n");
}

TEST_F(CheckAndAppend, FailedDownloadAfterAGoodCheckLeavesNothingPending) {
  std::string three;
  for (int k = 1; k <= 3; ++k) three += expedition("m_11.gif", "50", "5", item("Stary"));
  HttpTestServer server(std::vector<CannedReply>{
      CannedReply::page(reportLine(three)),
      "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n",
      CannedReply::page(reportLine(expedition("m_20.gif", "30", "3") + expedition("m_21.gif", "31", "4"))),
  });
  check(server.url("/1"));
  check(server.url("/2"));
  memui::userClick(AppendButton);
  const std::vector<std::string> afterFailure = play();
  // Each check is two events: the link typed, then the button.
  ASSERT_EQ(afterFailure.size(), 6u);
  EXPECT_EQ(afterFailure[3], "Poprawnie odczytano: 3 wypraw.\nstat: zwinno\x9C\xE6, szansa: 50%\nszcz\xEA\x9C"
                             "cie: 5, udana: tak");
  EXPECT_EQ(afterFailure[4], kDownloadFailed);
  EXPECT_EQ(afterFailure[5], kNothingPending);
  for (const PendingExpedition& slot : state.PendingTable) EXPECT_EQ(slot.items, "");
  EXPECT_EQ(cwd.read("Gracz.txt"), "");

  check(server.url("/3"));
  memui::userClick(AppendButton);
  play();
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;2;3;30;2;0;2;;\r\n0;2;4;31;2;1;2;;\r\n");
}

TEST_F(CheckAndAppend, EveryCheckResetsAll25Slots) {
  state.PendingTable[24].items = "Stary";
  state.PendingTable[24].chance = 99;
  std::string twentyFive;
  for (int k = 1; k <= 25; ++k) twentyFive += expedition("m_11.gif", "50", "5", k == 25 ? item("Nowy") : "");
  HttpTestServer server(CannedReply::page(reportLine(twentyFive)));
  check(server.url("/r"));
  play();
  ASSERT_EQ(state.pendingCount, 25);
  EXPECT_EQ(state.PendingTable[24].items, "Nowy");
  EXPECT_EQ(state.PendingTable[24].chance, 50);

  check("http://127.0.0.1:" + std::to_string(HttpTestServer::unusedPort()) + "/r");
  play();
  EXPECT_EQ(memui::shownText(ResultLabel), kDownloadFailed);
  EXPECT_EQ(state.pendingCount, 0);
  for (const PendingExpedition& slot : state.PendingTable) {
    EXPECT_EQ(slot.items, "");
    EXPECT_EQ(slot.chance, 0);
  }
}

TEST_F(CheckAndAppend, FailingWriteKeepsTheDatabaseAndTheBatch) {
  cwd.write("Gracz.txt", "0;0;1;1;1;1;1;;\r\n");
  HttpTestServer server(CannedReply::page(fixture("two_expeditions.html")));
  const std::string url = server.url("/r");
  check(url);
  play();
  ASSERT_EQ(state.pendingCount, 2);
  {
    FsFaults faults;
    faults.failNth(FsCall::Write, 1);
    dispatchControlEvent(state, AppendButton);
  }
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;0;1;1;1;1;1;;\r\n");
  EXPECT_EQ(memui::shownText(ResultLabel), kAppendFailed);
  EXPECT_EQ(state.pendingCount, 2);
  EXPECT_EQ(memui::shownText(LinkField), url);

  memui::userClick(AppendButton);
  play();
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;0;1;1;1;1;1;;\r\n0;2;12;75;3;1;2;Miecz, Tarcza;\r\n0;2;15;40;7;0;2;;\r\n");
  EXPECT_EQ(memui::shownText(ResultLabel), kAppended);
}

}  // namespace
