#include <gtest/gtest.h>

#include "accounts/account_names.h"

TEST(AccountFileName, UsableAndRefusedNames) {
  struct Case {
    const char* name;
    bool usable;
  };
  const Case cases[] = {
      {"Anna", true},          {"Pawe\xb3", true},       {"  spaces  ", true},  {"Konta2", true},
      {"console", true},       {"com0", true},           {"lpt10", true},       {"a.b", true},
      {"a/b", false},          {"a\\b", false},          {"c:x", false},        {"x*", false},
      {"x?", false},           {"\"x\"", false},         {"<x>", false},        {"x|y", false},
      {"tab\there", false},    {"konta", false},         {"KONTA", false},      {"Konta", false},
      {"CON", false},          {"con", false},           {"nul.txt", false},    {"Aux", false},
      {"prn ", false},         {"COM1", false},          {"lpt9", false},       {"LPT1.x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isUsableAccountFileName(c.name), c.usable) << c.name;
}
