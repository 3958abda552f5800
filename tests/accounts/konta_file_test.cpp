// konta.txt: the pure parse/format functions, and the same edge cases through
// loadAccounts and saveAccounts on real files (line ends are LineFile's).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/konta_file.h"
#include "model/state.h"
#include "model/texts.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "support/temp_dir.h"

namespace {

bool sameAccount(const Account& a, const Account& b) {
  return a.tag == b.tag && a.name == b.name && a.zone == b.zone && a.luck == b.luck && a.kind == b.kind;
}

std::string describe(const std::vector<Account>& accounts) {
  std::string out;
  for (const Account& a : accounts) {
    out.append("{").append(std::to_string(a.tag)).append(",'").append(a.name).append("',");
    out.append(std::to_string(a.zone)).append(",").append(std::to_string(a.luck)).append(",");
    out.append(std::to_string(a.kind)).append("} ");
  }
  return out;
}

testing::AssertionResult sameAccounts(const std::vector<Account>& actual, const std::vector<Account>& expected) {
  bool same = actual.size() == expected.size();
  for (size_t i = 0; same && i < actual.size(); ++i) same = sameAccount(actual[i], expected[i]);
  if (same) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "got " << describe(actual) << "\nwant " << describe(expected);
}

std::string crlf(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

const std::vector<Account> kAnnaBolek = {{0, "Anna", 3, 0, 1}, {0, "Bolek", 0, 15, 2}};
const std::vector<std::string> kAnnaBolekLines = {"2", "0", "0", "Anna", "3", "0", "1",
                                                  "1", "0", "Bolek", "0", "15", "2"};

}  // namespace

TEST(KontaFormat, TwoAccountExampleByteForByte) {
  EXPECT_EQ(formatKontaLines(kAnnaBolek), kAnnaBolekLines);
  EXPECT_EQ(formatKonta(kAnnaBolek),
            "2\r\n0\r\n0\r\nAnna\r\n3\r\n0\r\n1\r\n1\r\n0\r\nBolek\r\n0\r\n15\r\n2\r\n");
  EXPECT_TRUE(sameAccounts(parseKonta(kAnnaBolekLines), kAnnaBolek));
}

TEST(KontaFormat, NoAccountsIsTheOneLineZero) { EXPECT_EQ(formatKonta({}), "0\r\n"); }

TEST(KontaFormat, ExtremeValuesAndNameBytesAsTheyStand) {
  const std::vector<Account> accounts = {{-2147483647 - 1, "", 255, 255, 255},
                                         {2147483647, " Pawe\xb3 \x01\xff ", 0, 0, 0}};
  EXPECT_EQ(formatKonta(accounts), crlf({"2", "0", "-2147483648", "", "255", "255", "255", "1", "2147483647",
                                         " Pawe\xb3 \x01\xff ", "0", "0", "0"}));
  EXPECT_TRUE(sameAccounts(parseKonta(formatKontaLines(accounts)), accounts));
}

TEST(KontaParse, CountLineAndLinesToRead) {
  struct Case {
    const char* countLine;
    size_t records;
  };
  const Case cases[] = {
      {"0", 0}, {"", 0}, {"abc", 0}, {"1", 1},   {"5", 5},     {"6", 5},  {"255", 5},
      {"256", 0}, {"258", 2}, {"-1", 5}, {"-254", 2}, {" 3x", 3}, {"$4", 4}, {"%11", 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kontaRecordCount(c.countLine), c.records) << c.countLine;
    EXPECT_EQ(kontaLineCount(c.countLine), 1 + 6 * c.records) << c.countLine;
  }
}

TEST(KontaParse, NumbersKeepTheirLowBits) {
  const std::vector<Account> accounts = parseKonta({"1", "x", "4294967295", "A", "300", "-1", "abc"});
  EXPECT_TRUE(sameAccounts(accounts, {{-1, "A", 44, 255, 0}}));
  EXPECT_TRUE(sameAccounts(parseKonta({"1", "0", "$80000000", "A", "%111", " 7", "\t2 kinds"}),
                           {{-2147483647 - 1, "A", 7, 7, 2}}));
}

TEST(KontaParse, MissingLinesReadAsEmptyAndMoreThanFiveRecordsKeepFive) {
  EXPECT_TRUE(sameAccounts(parseKonta({}), {}));
  EXPECT_TRUE(sameAccounts(parseKonta({"2", "0", "4", "Anna", "1", "2", "0", "1"}),
                           {{4, "Anna", 1, 2, 0}, {0, "", 0, 0, 0}}));

  std::vector<std::string> seven = {"7"};
  for (int i = 0; i < 7; ++i) {
    for (const std::string& line : std::vector<std::string>{std::to_string(i), std::to_string(i * 10),
                                                            std::string("N").append(std::to_string(i)), "1", std::to_string(i), "2"})
      seven.push_back(line);
  }
  const std::vector<Account> five = parseKonta(seven);
  ASSERT_EQ(five.size(), 5u);
  EXPECT_TRUE(sameAccount(five[4], {40, "N4", 1, 4, 2}));
}

// The edge cases of the file format through the real loader and saver: what
// a file loads as, what the lists show, and what the next save writes.
class KontaFileRoundTrip : public testing::Test {
 protected:
  void SetUp() override {
    memui::reset();
    ASSERT_TRUE(startUi());
    ASSERT_TRUE(openMainWindow());
    openSettingsWindow();
    initState(state);
  }
  void TearDown() override { destroyWindows(); }

  std::vector<Account> loaded() const {
    return {state.AccountTable.begin(), state.AccountTable.begin() + state.accountCount};
  }

  TempCwd dir;
  AppState state;
};

TEST_F(KontaFileRoundTrip, EdgeCasesLoadAndSave) {
  struct Case {
    const char* what;
    std::string file;
    std::vector<Account> accounts;
    std::string saved;
  };
  const std::string example = crlf(kAnnaBolekLines);
  const Case cases[] = {
      {"the two-account example", example, kAnnaBolek, example},
      {"only the line 0", "0\r\n", {}, "0\r\n"},
      {"an empty file", "", {}, "0\r\n"},
      {"a negative tag", crlf({"1", "0", "-5", "Anna", "3", "0", "1"}), {{-5, "Anna", 3, 0, 1}},
       crlf({"1", "0", "-5", "Anna", "3", "0", "1"})},
      {"blanks around a name", crlf({"1", "0", "0", "  Anna \t ", "3", "0", "1"}), {{0, "  Anna \t ", 3, 0, 1}},
       crlf({"1", "0", "0", "  Anna \t ", "3", "0", "1"})},
      {"an empty name line", crlf({"1", "0", "0", "", "3", "0", "1"}), {{0, "", 3, 0, 1}},
       crlf({"1", "0", "0", "", "3", "0", "1"})},
      {"Windows-1250 name bytes", crlf({"1", "0", "0", "Pawe\xb3 \x8c\xb9", "0", "0", "0"}),
       {{0, "Pawe\xb3 \x8c\xb9", 0, 0, 0}}, crlf({"1", "0", "0", "Pawe\xb3 \x8c\xb9", "0", "0", "0"})},
      {"position lines rewritten", crlf({"2", "7", "1", "A", "0", "0", "0", "-3", "2", "B", "1", "1", "1"}),
       {{1, "A", 0, 0, 0}, {2, "B", 1, 1, 1}}, crlf({"2", "0", "1", "A", "0", "0", "0", "1", "2", "B", "1", "1", "1"})},
      {"LF line ends", "2\n0\n0\nAnna\n3\n0\n1\n1\n0\nBolek\n0\n15\n2\n", kAnnaBolek, example},
      {"CR line ends", "2\r0\r0\rAnna\r3\r0\r1\r1\r0\rBolek\r0\r15\r2\r", kAnnaBolek, example},
      {"no line end after the last line", "2\r\n0\r\n0\r\nAnna\r\n3\r\n0\r\n1\r\n1\r\n0\r\nBolek\r\n0\r\n15\r\n2",
       kAnnaBolek, example},
      {"count 2 followed by seven lines", crlf({"2", "0", "4", "Anna", "1", "2", "0", "1"}),
       {{4, "Anna", 1, 2, 0}, {0, "", 0, 0, 0}}, crlf({"2", "0", "4", "Anna", "1", "2", "0", "1", "0", "", "0", "0", "0"})},
      {"count 258", crlf({"258", "0", "0", "A", "1", "2", "1", "1", "0", "B", "2", "3", "2"}),
       {{0, "A", 1, 2, 1}, {0, "B", 2, 3, 2}}, crlf({"2", "0", "0", "A", "1", "2", "1", "1", "0", "B", "2", "3", "2"})},
      {"count -255", crlf({"-255", "0", "9", "A", "0", "0", "0"}), {{9, "A", 0, 0, 0}},
       crlf({"1", "0", "9", "A", "0", "0", "0"})},
      {"lines beyond the records", crlf({"1", "0", "0", "Anna", "3", "0", "1", "1", "0", "Ghost", "0", "0", "0", "junk"}),
       {{0, "Anna", 3, 0, 1}}, crlf({"1", "0", "0", "Anna", "3", "0", "1"})},
      {"numbers out of range", crlf({"1", "0", "4294967291", "A", "300", "-1", "9 kinds"}), {{-5, "A", 44, 255, 9}},
       crlf({"1", "0", "-5", "A", "44", "255", "9"})},
      {"zone 7 and kind 9 kept", crlf({"1", "0", "0", "A", "7", "0", "9"}), {{0, "A", 7, 0, 9}},
       crlf({"1", "0", "0", "A", "7", "0", "9"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    memui::reset();
    ASSERT_TRUE(openMainWindow());
    openSettingsWindow();
    initState(state);
    dir.write("konta.txt", c.file);

    loadAccounts(state);
    EXPECT_TRUE(memui::messages().empty());
    EXPECT_TRUE(sameAccounts(loaded(), c.accounts));
    std::vector<std::string> names;
    for (const Account& a : c.accounts) names.push_back(a.name);
    EXPECT_EQ(memui::items(AccountCombo), names);
    EXPECT_EQ(memui::items(AccountList), names);

    saveAccounts(state);
    EXPECT_TRUE(memui::messages().empty());
    EXPECT_EQ(dir.read("konta.txt"), c.saved);
    EXPECT_FALSE(dir.has("konta.txt.tmp"));
  }
}

TEST_F(KontaFileRoundTrip, MoreThanFiveAnnouncedLoadsTheFirstFive) {
  std::vector<std::string> lines = {"6"};
  std::vector<Account> firstFive;
  for (int i = 0; i < 6; ++i) {
    const Account account{i - 3, std::string("Konto").append(std::to_string(i)), static_cast<uint8_t>(i % 5),
                          static_cast<uint8_t>(i * 40), static_cast<uint8_t>(i % 3)};
    if (i < 5) firstFive.push_back(account);
    for (const std::string& line :
         std::vector<std::string>{std::to_string(i), std::to_string(account.tag), account.name,
                                  std::to_string(account.zone), std::to_string(account.luck),
                                  std::to_string(account.kind)})
      lines.push_back(line);
  }
  dir.write("konta.txt", crlf(lines));

  loadAccounts(state);
  EXPECT_EQ(state.accountCount, 5);
  EXPECT_TRUE(sameAccounts(loaded(), firstFive));
  EXPECT_EQ(memui::items(AccountList).size(), 5u);

  saveAccounts(state);
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(firstFive));
  EXPECT_EQ(dir.read("konta.txt").substr(0, 3), "5\r\n");
}

TEST_F(KontaFileRoundTrip, MissingFileShowsTheMessageAndTheSaveCreatesIt) {
  loadAccounts(state);
  ASSERT_EQ(memui::messages().size(), 1u);
  EXPECT_EQ(memui::messages()[0].title, txt::ErrorTitle);
  EXPECT_EQ(memui::messages()[0].text, txt::SettingsFileError);
  EXPECT_EQ(state.accountCount, 0);
  EXPECT_FALSE(state.accountsFileUnreadable);
  EXPECT_FALSE(dir.has("konta.txt"));

  saveAccounts(state);
  EXPECT_EQ(memui::messages().size(), 1u);
  EXPECT_EQ(dir.read("konta.txt"), "0\r\n");
}
