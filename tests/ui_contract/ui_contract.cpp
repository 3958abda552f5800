#include "ui_contract/ui_contract.h"

#include <chrono>
#include <climits>
#include <cstddef>

#include "app/app.h"
#include "model/controls.h"
#include "model/texts.h"

namespace {

// --- helpers ------------------------------------------------------------------

// One event as the loop takes it, with the selection of its control at that
// moment: what the dispatch would act on.
struct Taken {
  UiEvent event;
  int32_t selectedThen;
};

struct Reported {
  std::vector<Taken> taken;

  int of(int32_t control) const {
    int n = 0;
    for (const Taken& t : taken)
      if (t.event.kind == EventKind::controlEvent && t.event.control == control) ++n;
    return n;
  }
  int closesOf(int32_t window) const {
    int n = 0;
    for (const Taken& t : taken)
      if (t.event.kind == EventKind::closeEvent && t.event.window == window) ++n;
    return n;
  }
};

bool hasItems(int32_t control) {
  return kControls[control].kind == ControlKind::DropDown || kControls[control].kind == ControlKind::List;
}

// Everything the back-end reports until a wait of quietMs brings nothing, as
// the event loop takes it. Each control event must name its control's window.
Reported takeEvents(UserDriver& user) {
  Reported r;
  for (int i = 0; i < 1000; ++i) {
    const UiEvent e = waitEvent(user.quietMs());
    if (e.kind == EventKind::noEvent) break;
    int32_t selected = -1;
    if (e.kind == EventKind::controlEvent) {
      const bool known = e.control >= 0 && e.control < kControlCount;
      EXPECT_TRUE(known) << "control event of control " << e.control;
      if (!known) continue;
      EXPECT_EQ(e.window, kControls[e.control].window) << kControls[e.control].name;
      if (hasItems(e.control)) selected = selectedIndex(e.control);
    }
    r.taken.push_back({e, selected});
  }
  return r;
}

// There is no "remove all": the program never needs it.
void clearItems(int32_t control) {
  for (int i = 0; i < 100; ++i) removeItem(control, 0);
}

void fill(int32_t control, const std::vector<std::string>& items) {
  for (const std::string& item : items) appendItem(control, item);
}

std::vector<std::string> without(std::vector<std::string> items, int32_t index) {
  items.erase(items.begin() + index);
  return items;
}

const std::vector<std::string> kFourAccounts = {"Anna", "Bolek", "Cezary", "Dorota"};
const std::vector<int32_t> kButtons = {CheckButton, AppendButton, DeleteButton, AddButton};
const std::vector<int32_t> kOutside = {5, -1, 1000, INT32_MIN, INT32_MAX};
const std::vector<int32_t> kNoControl = {-1, 20, 21, 1000, INT32_MIN, INT32_MAX};
// Every Polish letter, small and capital, as Windows-1250 bytes.
const std::string kPolishLetters = "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF";
// "Paweł Żółć"
const std::string kPolishName = "Pawe\xB3 \xAF\xF3\xB3\xE6";

std::vector<std::string> zoneItems() { return {std::begin(txt::ZoneItems), std::end(txt::ZoneItems)}; }

// --- the control operations ---------------------------------------------------

void firstTextsAndEmptyLists(UserDriver& user) {
  EXPECT_TRUE(user.windowShown(MainWindow));
  EXPECT_TRUE(user.windowShown(SettingsWindow));
  for (const ControlSpec& c : kControls) {
    SCOPED_TRACE(c.name);
    switch (c.kind) {
      case ControlKind::Label:
      case ControlKind::PushButton:
        EXPECT_EQ(controlText(c.number), *c.firstText);
        break;
      case ControlKind::TextField:
        EXPECT_EQ(controlText(c.number), "");
        break;
      case ControlKind::DropDown:
      case ControlKind::List:
        EXPECT_TRUE(user.items(c.number).empty());
        EXPECT_EQ(selectedIndex(c.number), -1);
        selectIndex(c.number, 0);  // there is no item 0
        EXPECT_EQ(selectedIndex(c.number), -1);
        if (c.kind == ControlKind::DropDown) {
          EXPECT_EQ(controlText(c.number), "");
        }
        break;
    }
  }
}

void choiceListsStartOnTheFourthZoneAndTheFirstKind(UserDriver& user) {
  fillChoiceLists();
  EXPECT_EQ(user.items(ZoneCombo), zoneItems());
  EXPECT_EQ(user.items(KindCombo),
            std::vector<std::string>(std::begin(txt::KindItems), std::end(txt::KindItems)));
  EXPECT_EQ(selectedIndex(ZoneCombo), 3);
  EXPECT_EQ(controlText(ZoneCombo), "4s");
  EXPECT_EQ(selectedIndex(KindCombo), 0);
  EXPECT_EQ(controlText(KindCombo), txt::KindItems[0]);
}

void appendAddsAtTheEndAndKeepsTheSelection(UserDriver& user) {
  for (int32_t control : {AccountCombo, ZoneCombo, AccountList}) {
    SCOPED_TRACE(kControls[control].name);
    fill(control, {"Zenon", "Anna"});
    EXPECT_EQ(user.items(control), (std::vector<std::string>{"Zenon", "Anna"}))
        << "kept in order, not sorted";
    EXPECT_EQ(selectedIndex(control), -1);
    selectIndex(control, 1);
    appendItem(control, "Bolek");
    EXPECT_EQ(user.items(control), (std::vector<std::string>{"Zenon", "Anna", "Bolek"}));
    EXPECT_EQ(selectedIndex(control), 1);
    if (kControls[control].kind == ControlKind::DropDown) {
      EXPECT_EQ(controlText(control), "Anna");
    }
  }
}

void selectIndexOutsideTheItemsLeavesNoSelection(UserDriver&) {
  for (int32_t control : {ZoneCombo, AccountList}) {
    fill(control, zoneItems());
    for (int32_t outside : kOutside) {
      SCOPED_TRACE(std::string(kControls[control].name) + " index " + std::to_string(outside));
      selectIndex(control, 2);
      ASSERT_EQ(selectedIndex(control), 2);
      selectIndex(control, outside);
      EXPECT_EQ(selectedIndex(control), -1);
      if (control == ZoneCombo) {
        EXPECT_EQ(controlText(control), "");
      }
    }
    selectIndex(control, 4);
    EXPECT_EQ(selectedIndex(control), 4);
  }
  EXPECT_EQ(controlText(ZoneCombo), "5s");
}

void removeItemKeepsTheSelectionWithItsItem(UserDriver& user) {
  struct Case {
    int32_t selected;
    int32_t removed;
    int32_t selectedAfter;
    const char* textAfter;
    std::vector<std::string> itemsAfter;
  };
  const Case cases[] = {
      {1, 0, 0, "B", {"B", "C"}},       // before the selection: it moves up with its item
      {1, 1, -1, "", {"A", "C"}},       // the selected item itself: none selected
      {1, 2, 1, "B", {"A", "B"}},       // after the selection: unchanged
      {-1, 0, -1, "", {"B", "C"}},      // nothing selected stays so
      {1, 3, 1, "B", {"A", "B", "C"}},  // no such item: nothing changes
      {1, -1, 1, "B", {"A", "B", "C"}}, {2, 2, -1, "", {"A", "B"}},  // the last one, selected
  };
  for (int32_t control : {AccountCombo, AccountList}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(kControls[control].name) + " selected " + std::to_string(c.selected) +
                   " removed " + std::to_string(c.removed));
      clearItems(control);
      fill(control, {"A", "B", "C"});
      selectIndex(control, c.selected);
      removeItem(control, c.removed);
      EXPECT_EQ(user.items(control), c.itemsAfter);
      EXPECT_EQ(selectedIndex(control), c.selectedAfter);
      if (control == AccountCombo) {
        EXPECT_EQ(controlText(control), c.textAfter);
      }
    }
    clearItems(control);
    removeItem(control, 0);  // from an empty list
    EXPECT_TRUE(user.items(control).empty());
    EXPECT_EQ(selectedIndex(control), -1);
  }
}

void textsKeepTheirWindows1250Bytes(UserDriver& user) {
  std::string link = "http://127.0.0.1:8080/raport?id=";
  link.append(2000, 'a');  // far longer than the field: it scrolls, and is kept whole
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {LinkField, link},
      {NewAccountField, kPolishLetters},
      {LuckField, "300"},
      {LuckField, ""},
      {ResultLabel, kPolishName + "\nwiersz 2\nwiersz 3"},
      {ResultLabel, "A & B"},
      {NewAccountField, kPolishName},
  };
  for (const auto& [control, text] : cases) {
    SCOPED_TRACE(std::string(kControls[control].name) + " " + text.substr(0, 40));
    setControlText(control, text);
    EXPECT_EQ(controlText(control), text);
  }
  appendItem(AccountCombo, kPolishLetters);
  appendItem(AccountList, kPolishName);
  selectIndex(AccountCombo, 0);
  EXPECT_EQ(controlText(AccountCombo), kPolishLetters);
  EXPECT_EQ(user.items(AccountList), std::vector<std::string>{kPolishName});
}

void operationsOfAnotherKindOfControlChangeNothing(UserDriver& user) {
  fillChoiceLists();
  setControlText(ZoneCombo, "x");
  EXPECT_EQ(controlText(ZoneCombo), "4s");
  EXPECT_EQ(user.items(ZoneCombo), zoneItems());
  setControlText(AccountList, "x");
  EXPECT_TRUE(user.items(AccountList).empty());
  appendItem(LinkField, "x");
  EXPECT_EQ(controlText(LinkField), "");
  appendItem(ResultLabel, "x");
  EXPECT_EQ(controlText(ResultLabel), txt::ResultLabel);
  selectIndex(LuckField, 0);
  EXPECT_EQ(controlText(LuckField), "");
  removeItem(CheckButton, 0);
  EXPECT_EQ(controlText(CheckButton), txt::CheckButton);
  for (int32_t control : {LinkField, ResultLabel, CheckButton}) {
    EXPECT_EQ(selectedIndex(control), -1) << kControls[control].name;
  }
}

void numbersThatNameNoControlDoNothing(UserDriver& user) {
  fill(AccountCombo, {"Anna"});
  fill(AccountList, {"Anna"});
  selectIndex(AccountCombo, 0);
  selectIndex(AccountList, 0);
  setControlText(LinkField, "link");
  takeEvents(user);
  for (int32_t control : kNoControl) {
    SCOPED_TRACE(control);
    selectIndex(control, 0);
    setControlText(control, "x");
    appendItem(control, "x");
    removeItem(control, 0);
    EXPECT_EQ(selectedIndex(control), 0);
    EXPECT_EQ(controlText(control), "");
  }
  EXPECT_TRUE(takeEvents(user).taken.empty());
  EXPECT_EQ(user.items(AccountCombo), std::vector<std::string>{"Anna"});
  EXPECT_EQ(user.items(AccountList), std::vector<std::string>{"Anna"});
  EXPECT_EQ(selectedIndex(AccountList), 0);
  EXPECT_EQ(controlText(LinkField), "link");
  EXPECT_EQ(controlText(ResultLabel), txt::ResultLabel);
}

// After shut-down has destroyed the windows, no number names a control.
void controlsOfDestroyedWindowsDoNothing(UserDriver& user) {
  fillChoiceLists();
  setControlText(LinkField, "link");
  destroyWindows();
  EXPECT_FALSE(user.windowShown(MainWindow));
  EXPECT_FALSE(user.windowShown(SettingsWindow));
  for (int32_t control = 0; control < kControlCount; ++control) {
    SCOPED_TRACE(kControls[control].name);
    selectIndex(control, 0);
    setControlText(control, "x");
    appendItem(control, "x");
    removeItem(control, 0);
    EXPECT_EQ(selectedIndex(control), 0);
    EXPECT_EQ(controlText(control), "");
  }
  EXPECT_EQ(waitEvent(user.quietMs()).kind, EventKind::noEvent);
}

void aWaitWithNothingToReportTimesOut(UserDriver&) {
  EXPECT_EQ(waitEvent(0).kind, EventKind::noEvent);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitEvent(100).kind, EventKind::noEvent);
  // Generous: the wait must come back by its time-out, not hang.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// --- the events of user actions --------------------------------------------

void aClickedButtonReportsOneEvent(UserDriver& user) {
  for (int32_t button : kButtons) {
    SCOPED_TRACE(kControls[button].name);
    user.click(button);
    EXPECT_EQ(takeEvents(user).of(button), 1);
  }
}

void spaceOnAFocusedButtonClicksIt(UserDriver& user) {
  const std::pair<int32_t, int32_t> fieldAndNext[] = {{LinkField, CheckButton}, {NewAccountField, AddButton}};
  for (const auto& [field, button] : fieldAndNext) {
    SCOPED_TRACE(kControls[button].name);
    user.click(field);
    user.press(Key::Tab);
    ASSERT_EQ(user.focusedControl(kControls[button].window), button);
    EXPECT_EQ(takeEvents(user).of(button), 0) << "taking the focus is no click";
    user.press(Key::Space);
    EXPECT_EQ(takeEvents(user).of(button), 1);
  }
}

void labelsReportNothing(UserDriver& user) {
  for (const ControlSpec& c : kControls) {
    if (c.kind != ControlKind::Label) continue;
    SCOPED_TRACE(c.name);
    const int32_t field = c.window == MainWindow ? LuckField : NewAccountField;
    user.click(field);
    takeEvents(user);
    user.click(c.number);
    EXPECT_EQ(takeEvents(user).of(c.number), 0);
    EXPECT_EQ(user.focusedControl(c.window), field) << "a label takes no focus";
  }
}

void typingReportsEveryChange(UserDriver& user) {
  user.click(LuckField);
  takeEvents(user);
  std::string typed;
  for (const char ch : std::string("300")) {
    user.type(std::string(1, ch));
    typed += ch;
    EXPECT_GE(takeEvents(user).of(LuckField), 1) << "after " << typed;
    EXPECT_EQ(controlText(LuckField), typed);
  }
  user.press(Key::Backspace);
  EXPECT_GE(takeEvents(user).of(LuckField), 1) << "deleting is a change";
  EXPECT_EQ(controlText(LuckField), "30");

  user.click(NewAccountField);
  takeEvents(user);
  user.type(kPolishName);
  EXPECT_GE(takeEvents(user).of(NewAccountField), static_cast<int>(kPolishName.size()));
  EXPECT_EQ(controlText(NewAccountField), kPolishName);
}

void aTextFieldReportsTakingAndLosingTheFocus(UserDriver& user) {
  user.click(LinkField);
  EXPECT_GE(takeEvents(user).of(LinkField), 1) << "gained";
  EXPECT_EQ(user.focusedControl(MainWindow), LinkField);
  user.click(LuckField);
  const Reported r = takeEvents(user);
  EXPECT_GE(r.of(LinkField), 1) << "lost";
  EXPECT_GE(r.of(LuckField), 1) << "gained";
  EXPECT_EQ(user.focusedControl(MainWindow), LuckField);
  // The keyboard goes with the window the user turns to.
  user.click(NewAccountField);
  const Reported other = takeEvents(user);
  EXPECT_GE(other.of(NewAccountField), 1) << "gained";
  EXPECT_GE(other.of(LuckField), 1) << "lost with its window";
}

void tabVisitsTheFocusableControlsInNumberOrder(UserDriver& user) {
  struct Ring {
    int32_t window;
    int32_t start;
    std::vector<int32_t> order;
  };
  const Ring rings[] = {{MainWindow, LuckField, {1, 5, 6, 7, 9, 12, 13}},
                        {SettingsWindow, NewAccountField, {15, 16, 18, 19}}};
  for (const Ring& ring : rings) {
    user.click(ring.start);
    ASSERT_EQ(user.focusedControl(ring.window), ring.start);
    const auto n = static_cast<int32_t>(ring.order.size());
    int32_t at = 0;
    while (ring.order[static_cast<size_t>(at)] != ring.start) ++at;
    for (int32_t step = 1; step <= n; ++step) {  // once round, wrapping at the end
      user.press(Key::Tab);
      EXPECT_EQ(user.focusedControl(ring.window), ring.order[static_cast<size_t>((at + step) % n)])
          << "Tab " << step;
    }
    for (int32_t step = 1; step <= n; ++step) {  // and back, wrapping at the start
      user.press(Key::ShiftTab);
      EXPECT_EQ(user.focusedControl(ring.window), ring.order[static_cast<size_t>((at - step + n) % n)])
          << "Shift+Tab " << step;
    }
  }
}

void aDropDownReportsItsFocusAndAKeyboardChoice(UserDriver& user) {
  fillChoiceLists();
  user.click(LuckField);
  takeEvents(user);
  user.press(Key::ShiftTab);
  ASSERT_EQ(user.focusedControl(MainWindow), ZoneCombo);
  EXPECT_GE(takeEvents(user).of(ZoneCombo), 1) << "gained the focus";
  user.press(Key::Down);
  Reported r = takeEvents(user);
  EXPECT_GE(r.of(ZoneCombo), 1) << "chose with the keyboard";
  EXPECT_EQ(selectedIndex(ZoneCombo), 4);
  EXPECT_EQ(controlText(ZoneCombo), "5s");
  user.press(Key::Up);
  user.press(Key::Up);
  r = takeEvents(user);
  EXPECT_GE(r.of(ZoneCombo), 2);
  EXPECT_EQ(selectedIndex(ZoneCombo), 2);
  EXPECT_EQ(controlText(ZoneCombo), "3s");
  user.press(Key::Tab);
  EXPECT_EQ(user.focusedControl(MainWindow), LuckField);
  EXPECT_GE(takeEvents(user).of(ZoneCombo), 1) << "lost the focus";
  EXPECT_EQ(selectedIndex(ZoneCombo), 2);
}

void aListReportsTheUsersPicksButNotItsFocus(UserDriver& user) {
  fill(AccountList, kFourAccounts);
  user.click(NewAccountField);
  takeEvents(user);

  user.clickRow(AccountList, 2);
  EXPECT_GE(takeEvents(user).of(AccountList), 1);
  EXPECT_EQ(selectedIndex(AccountList), 2);
  EXPECT_EQ(user.focusedControl(SettingsWindow), AccountList);
  user.press(Key::Down);
  EXPECT_GE(takeEvents(user).of(AccountList), 1);
  EXPECT_EQ(selectedIndex(AccountList), 3);
  user.press(Key::Up);
  EXPECT_GE(takeEvents(user).of(AccountList), 1);
  EXPECT_EQ(selectedIndex(AccountList), 2);

  // A click on the picked row changes no selection, but its release on an
  // item reports; a double click reports more than one click.
  user.clickRow(AccountList, 1);
  takeEvents(user);
  user.clickRow(AccountList, 1);
  const int oneClick = takeEvents(user).of(AccountList);
  EXPECT_GE(oneClick, 1) << "release on an item";
  user.doubleClickRow(AccountList, 1);
  EXPECT_GT(takeEvents(user).of(AccountList), oneClick) << "double click";
  EXPECT_EQ(selectedIndex(AccountList), 1);

  // Dragging an item: the start of the drag reports, once; so does the release.
  user.pressOnRow(AccountList, 0);
  EXPECT_EQ(selectedIndex(AccountList), 0);
  takeEvents(user);
  user.dragPressed(AccountList);
  EXPECT_EQ(takeEvents(user).of(AccountList), 1) << "drag start";
  user.dragPressed(AccountList);
  EXPECT_EQ(takeEvents(user).of(AccountList), 0) << "a drag starts once";
  user.releasePressed(AccountList);
  EXPECT_GE(takeEvents(user).of(AccountList), 1) << "release of a press on an item";

  // Losing and taking the focus reports nothing and keeps the selection.
  user.click(NewAccountField);
  EXPECT_EQ(takeEvents(user).of(AccountList), 0) << "lost the focus";
  user.press(Key::ShiftTab);
  user.press(Key::ShiftTab);
  EXPECT_EQ(user.focusedControl(SettingsWindow), AccountList);
  EXPECT_EQ(takeEvents(user).of(AccountList), 0) << "took the focus";
  EXPECT_EQ(selectedIndex(AccountList), 0);
}

// The account the user picked in AccountList is deleted: the program removes
// its row, and no other row may become selected then or later, or the next
// event of the list would make a neighbour the current account.
void removingTheRowTheUserPickedLeavesNoRowSelected(UserDriver& user) {
  for (const bool byKeyboard : {false, true}) {
    for (const int32_t row : {0, 1, 3}) {  // first, inner, last
      SCOPED_TRACE(std::string(byKeyboard ? "keyboard" : "click") + ", row " + std::to_string(row));
      clearItems(AccountList);
      fill(AccountList, kFourAccounts);
      user.click(NewAccountField);
      takeEvents(user);
      if (byKeyboard) {
        user.clickRow(AccountList, row == 0 ? 1 : row - 1);
        user.press(row == 0 ? Key::Up : Key::Down);
      } else {
        user.clickRow(AccountList, row);
      }
      ASSERT_EQ(selectedIndex(AccountList), row);
      ASSERT_GE(takeEvents(user).of(AccountList), 1) << "the pick is a change the user made";

      removeItem(AccountList, row);
      EXPECT_EQ(selectedIndex(AccountList), -1);
      EXPECT_EQ(user.items(AccountList), without(kFourAccounts, row));
      for (const Taken& t : takeEvents(user).taken) {
        if (t.event.control == AccountList) {
          EXPECT_EQ(t.selectedThen, -1) << "an event the loop takes";
        }
      }
      EXPECT_EQ(selectedIndex(AccountList), -1);

      // Coming back to the list later selects nothing either.
      user.click(NewAccountField);
      user.press(Key::ShiftTab);
      user.press(Key::ShiftTab);
      EXPECT_EQ(user.focusedControl(SettingsWindow), AccountList);
      EXPECT_EQ(takeEvents(user).of(AccountList), 0);
      EXPECT_EQ(selectedIndex(AccountList), -1) << "after the list took the focus again";
    }
  }
}

void removingAnotherRowKeepsTheUsersPick(UserDriver& user) {
  fill(AccountList, kFourAccounts);
  user.clickRow(AccountList, 2);  // Cezary
  ASSERT_EQ(selectedIndex(AccountList), 2);
  takeEvents(user);
  removeItem(AccountList, 0);  // above it: Cezary moves up to 1
  EXPECT_EQ(selectedIndex(AccountList), 1);
  removeItem(AccountList, 2);  // below it: Dorota
  EXPECT_EQ(selectedIndex(AccountList), 1);
  EXPECT_EQ(user.items(AccountList), (std::vector<std::string>{"Bolek", "Cezary"}));
  for (const Taken& t : takeEvents(user).taken) {
    if (t.event.control == AccountList) {
      EXPECT_EQ(t.selectedThen, 1);
    }
  }
  EXPECT_EQ(selectedIndex(AccountList), 1);
}

void aClickBelowTheRowsOrTakingTheFocusSelectsNoRow(UserDriver& user) {
  fill(AccountList, {"Anna", "Bolek", "Cezary"});
  user.click(NewAccountField);
  takeEvents(user);
  // The first click gives the list the focus, the second finds it there.
  for (int click = 1; click <= 2; ++click) {
    SCOPED_TRACE(click);
    user.clickBelowRows(AccountList);
    EXPECT_EQ(user.focusedControl(SettingsWindow), AccountList) << "the click did not reach the list";
    EXPECT_EQ(selectedIndex(AccountList), -1);
    EXPECT_EQ(takeEvents(user).of(AccountList), 0);
  }
  // After a pick, a click below the rows keeps it and reports nothing.
  user.clickRow(AccountList, 1);
  EXPECT_GE(takeEvents(user).of(AccountList), 1);
  user.click(NewAccountField);
  takeEvents(user);
  user.clickBelowRows(AccountList);
  EXPECT_EQ(selectedIndex(AccountList), 1);
  EXPECT_EQ(takeEvents(user).of(AccountList), 0);

  // Tab into a list that nobody picked in selects nothing either.
  clearItems(AccountList);
  fill(AccountList, {"Anna", "Bolek"});
  user.click(NewAccountField);
  takeEvents(user);
  user.press(Key::Tab);
  user.press(Key::Tab);
  EXPECT_EQ(user.focusedControl(SettingsWindow), AccountList);
  EXPECT_EQ(selectedIndex(AccountList), -1);
  EXPECT_EQ(takeEvents(user).of(AccountList), 0);
}

void aCloseRequestReportsACloseEventAndTheWindowStays(UserDriver& user) {
  for (int32_t window : {SettingsWindow, MainWindow}) {
    SCOPED_TRACE(window);
    user.requestClose(window);
    const Reported r = takeEvents(user);
    EXPECT_EQ(r.closesOf(window), 1);
    EXPECT_EQ(r.closesOf(1 - window), 0);
    EXPECT_TRUE(user.windowShown(window));
  }
  EXPECT_EQ(controlText(ResultLabel), txt::ResultLabel);
  EXPECT_EQ(controlText(AddButton), txt::AddButton);
}

void enterInATextFieldClicksNoButton(UserDriver& user) {
  for (int32_t field : {LuckField, LinkField, NewAccountField}) {
    SCOPED_TRACE(kControls[field].name);
    user.click(field);
    user.type("1");
    takeEvents(user);
    user.press(Key::Enter);
    const Reported r = takeEvents(user);
    for (int32_t button : kButtons) EXPECT_EQ(r.of(button), 0) << kControls[button].name;
    EXPECT_EQ(r.closesOf(kControls[field].window), 0);
    EXPECT_EQ(controlText(field), "1");
  }
}

}  // namespace

const std::vector<UiContractCase>& uiContractCases() {
  static const std::vector<UiContractCase> cases = {
      {"FirstTextsAndEmptyLists", firstTextsAndEmptyLists},
      {"ChoiceListsStartOnTheFourthZoneAndTheFirstKind", choiceListsStartOnTheFourthZoneAndTheFirstKind},
      {"AppendAddsAtTheEndAndKeepsTheSelection", appendAddsAtTheEndAndKeepsTheSelection},
      {"SelectIndexOutsideTheItemsLeavesNoSelection", selectIndexOutsideTheItemsLeavesNoSelection},
      {"RemoveItemKeepsTheSelectionWithItsItem", removeItemKeepsTheSelectionWithItsItem},
      {"TextsKeepTheirWindows1250Bytes", textsKeepTheirWindows1250Bytes},
      {"OperationsOfAnotherKindOfControlChangeNothing", operationsOfAnotherKindOfControlChangeNothing},
      {"NumbersThatNameNoControlDoNothing", numbersThatNameNoControlDoNothing},
      {"ControlsOfDestroyedWindowsDoNothing", controlsOfDestroyedWindowsDoNothing},
      {"AWaitWithNothingToReportTimesOut", aWaitWithNothingToReportTimesOut},
      {"AClickedButtonReportsOneEvent", aClickedButtonReportsOneEvent},
      {"SpaceOnAFocusedButtonClicksIt", spaceOnAFocusedButtonClicksIt},
      {"LabelsReportNothing", labelsReportNothing},
      {"TypingReportsEveryChange", typingReportsEveryChange},
      {"ATextFieldReportsTakingAndLosingTheFocus", aTextFieldReportsTakingAndLosingTheFocus},
      {"TabVisitsTheFocusableControlsInNumberOrder", tabVisitsTheFocusableControlsInNumberOrder},
      {"ADropDownReportsItsFocusAndAKeyboardChoice", aDropDownReportsItsFocusAndAKeyboardChoice},
      {"AListReportsTheUsersPicksButNotItsFocus", aListReportsTheUsersPicksButNotItsFocus},
      {"RemovingTheRowTheUserPickedLeavesNoRowSelected", removingTheRowTheUserPickedLeavesNoRowSelected},
      {"RemovingAnotherRowKeepsTheUsersPick", removingAnotherRowKeepsTheUsersPick},
      {"AClickBelowTheRowsOrTakingTheFocusSelectsNoRow", aClickBelowTheRowsOrTakingTheFocusSelectsNoRow},
      {"ACloseRequestReportsACloseEventAndTheWindowStays", aCloseRequestReportsACloseEventAndTheWindowStays},
      {"EnterInATextFieldClicksNoButton", enterInATextFieldClicksNoButton},
  };
  return cases;
}

std::string uiContractCaseName(const testing::TestParamInfo<UiContractCase>& info) { return info.param.name; }
