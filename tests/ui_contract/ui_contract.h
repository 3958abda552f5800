#pragma once
// The behaviour every user-interface back-end owes the program, written once:
// what the control operations of app/ui.h do, and which control and close
// events the user's actions report. The cases drive a UserDriver, which each
// back-end supplies: the in-memory one scripts the user, the GTK and Win32
// ones act on the real widgets through the toolkit's own input path (button
// presses, key presses, focus changes), so that a row is picked as the user
// picks it and never by selectIndex.
//
// Each back-end runs the same table:
//
//   using MyUiContract = UiContract<MyUser>;
//   TEST_P(MyUiContract, Holds) { GetParam().run(user_); }
//   INSTANTIATE_TEST_SUITE_P(MyBackEnd, MyUiContract, testing::ValuesIn(uiContractCases()),
//                            uiContractCaseName);
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "model/ui.h"

enum class Key { Tab, ShiftTab, Up, Down, Space, Backspace, Enter };

// A user in front of one back-end's two windows.
class UserDriver {
 public:
  virtual ~UserDriver() = default;

  // startUi, openMainWindow and openSettingsWindow, then whatever the
  // back-end needs until both windows are shown and take input. False when
  // the windows cannot be shown at all (no display).
  virtual bool open() = 0;
  // destroyWindows.
  virtual void close() = 0;
  // How long a wait must bring no event before the back-end has reported
  // everything the last action caused.
  virtual int32_t quietMs() const = 0;

  // The left button pressed and released in the middle of a button, text
  // field or label (not a drop-down: its list would open). The click brings
  // the control's window to the front first, as a click does.
  virtual void click(int32_t control) = 0;
  // In a list: a click in the middle of a row, a double click there, and a
  // click in the list below its last row.
  virtual void clickRow(int32_t list, int32_t row) = 0;
  virtual void doubleClickRow(int32_t list, int32_t row) = 0;
  virtual void clickBelowRows(int32_t list) = 0;
  // A press on a row that stays down, a move with the button down far enough
  // to start a drag, and the release where the pointer then is.
  virtual void pressOnRow(int32_t list, int32_t row) = 0;
  virtual void dragPressed(int32_t list) = 0;
  virtual void releasePressed(int32_t list) = 0;
  // The closing of a window from its frame (close box or Alt+F4).
  virtual void requestClose(int32_t window) = 0;

  // The keyboard, in the window that was last clicked, to its focused control.
  virtual void press(Key key) = 0;
  // Characters (Windows-1250), one key each.
  virtual void type(const std::string& text) = 0;

  // What the user sees: the control of the window with the keyboard focus
  // (-1: none), the items of a drop-down or list, whether a window shows.
  virtual int32_t focusedControl(int32_t window) = 0;
  virtual std::vector<std::string> items(int32_t control) = 0;
  virtual bool windowShown(int32_t window) = 0;
};

struct UiContractCase {
  const char* name;
  void (*run)(UserDriver& user);
};

// gtest names each run of a case by it.
inline void PrintTo(const UiContractCase& c, std::ostream* os) { *os << c.name; }

const std::vector<UiContractCase>& uiContractCases();
std::string uiContractCaseName(const testing::TestParamInfo<UiContractCase>& info);

// Every case starts with both windows freshly opened and no event waiting,
// and ends with them destroyed.
template <typename Driver>
class UiContract : public testing::TestWithParam<UiContractCase> {
 protected:
  void SetUp() override {
    if (!user_.open()) GTEST_SKIP() << "the windows cannot be shown here";
    for (int i = 0; i < 1000 && waitEvent(user_.quietMs()).kind != EventKind::noEvent; ++i) {
    }
  }
  void TearDown() override { user_.close(); }

  Driver user_;
};
