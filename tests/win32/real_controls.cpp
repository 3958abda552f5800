// The Win32 back-end on real windows and controls (under Wine in the cross
// build): the control contract that every back-end owes the program
// (tests/ui_contract), driven by mouse and key messages, and what only the
// Win32 side can see: how the two windows and twenty controls are built
// (classes, styles, fonts, places), texts as the system holds them, and how
// system notifications become queued events.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "app/texts.h"
#include "app/ui.h"
#include "ui_contract/ui_contract.h"
#include "win32/win32_user.h"

namespace {

using Win32UiContract = UiContract<Win32User>;
TEST_P(Win32UiContract, Holds) { GetParam().run(user_); }
INSTANTIATE_TEST_SUITE_P(Win32, Win32UiContract, testing::ValuesIn(uiContractCases()), uiContractCaseName);

std::wstring classOf(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  std::wstring s = name;
  // A versioned class of the visual-style controls may carry a prefix ("6.0...!Button").
  const size_t bang = s.rfind(L'!');
  return bang == std::wstring::npos ? s : s.substr(bang + 1);
}

RECT rectInParent(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<UiEvent> drainEvents() {
  std::vector<UiEvent> events;
  for (int i = 0; i < 1000; ++i) {
    const UiEvent e = waitEvent(0);
    if (e.kind == EventKind::noEvent) break;
    events.push_back(e);
  }
  return events;
}

void removeAllItems(int32_t control) {
  for (int i = 0; i < 100; ++i) removeItem(control, 0);
}

class Win32Ui : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(startUi());
    ASSERT_TRUE(openMainWindow());
    openSettingsWindow();
  }
  static void TearDownTestSuite() { destroyWindows(); }

  void SetUp() override {
    for (int32_t c : {AccountCombo, ZoneCombo, KindCombo, AccountList}) removeAllItems(c);
    for (int32_t c : {LuckField, LinkField, NewAccountField}) setControlText(c, "");
    drainEvents();
  }
};

TEST_F(Win32Ui, WindowsHaveTheirTitlesClientSizesAndPlaces) {
  const HWND main = findWindow(MainWindow);
  const HWND settings = findWindow(SettingsWindow);
  ASSERT_NE(main, nullptr);
  ASSERT_NE(settings, nullptr);

  for (const WindowSpec& layout : kWindows) {
    const HWND w = findWindow(layout.number);
    RECT client{};
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, layout.clientWidth) << layout.number;
    EXPECT_EQ(client.bottom, layout.clientHeight) << layout.number;
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(w, GWL_STYLE));
    EXPECT_TRUE(style & WS_CAPTION) << layout.number;
    EXPECT_TRUE(style & WS_SYSMENU) << layout.number;
    EXPECT_TRUE(style & WS_THICKFRAME) << layout.number;
    EXPECT_FALSE(style & WS_MINIMIZEBOX) << layout.number;
    EXPECT_FALSE(style & WS_MAXIMIZEBOX) << layout.number;
    EXPECT_TRUE(IsWindowVisible(w)) << layout.number;
    EXPECT_FALSE(IsIconic(w) || IsZoomed(w)) << layout.number;
  }

  RECT outer{};
  GetWindowRect(main, &outer);
  const int sw = GetSystemMetrics(SM_CXSCREEN);
  const int sh = GetSystemMetrics(SM_CYSCREEN);
  const int ow = std::min<int>(outer.right - outer.left, sw);
  const int oh = std::min<int>(outer.bottom - outer.top, sh);
  EXPECT_EQ(outer.left, (sw - ow) / 2);
  EXPECT_EQ(outer.top, (sh - oh) / 2);

  GetWindowRect(settings, &outer);
  EXPECT_EQ(outer.left, 551);
  EXPECT_EQ(outer.top, 364);
}

TEST_F(Win32Ui, ControlsAreStandardClassesWithTheirPlacesStylesAndFont) {
  const auto guiFont = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
  for (const ControlSpec& layout : kControls) {
    SCOPED_TRACE(layout.name);
    const HWND hwnd = controlWindow(layout.number);
    ASSERT_NE(hwnd, nullptr);
    const RECT r = rectInParent(hwnd);
    EXPECT_EQ(r.left, layout.x);
    EXPECT_EQ(r.top, layout.y);
    EXPECT_EQ(r.right - r.left, layout.width);
    EXPECT_EQ(r.bottom - r.top, layout.height);  // drop-down lists closed: 20
    EXPECT_EQ(static_cast<WPARAM>(SendMessageW(hwnd, WM_GETFONT, 0, 0)), guiFont);

    const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    EXPECT_EQ((style & WS_TABSTOP) != 0, controlTakesFocus(layout.kind));
    switch (layout.kind) {
      case ControlKind::Label:
        EXPECT_EQ(classOf(hwnd), L"Static");
        EXPECT_EQ(style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFT));
        EXPECT_EQ(controlText(layout.number), *layout.firstText);
        break;
      case ControlKind::DropDown:
        EXPECT_EQ(classOf(hwnd), L"ComboBox");
        EXPECT_EQ(style & 3, static_cast<DWORD>(CBS_DROPDOWNLIST));
        EXPECT_FALSE(style & CBS_SORT);
        break;
      case ControlKind::TextField:
        EXPECT_EQ(classOf(hwnd), L"Edit");
        EXPECT_TRUE(style & ES_AUTOHSCROLL);
        EXPECT_FALSE(style & ES_MULTILINE);
        EXPECT_TRUE(exStyle & WS_EX_CLIENTEDGE);
        EXPECT_GE(static_cast<DWORD>(SendMessageW(hwnd, EM_GETLIMITTEXT, 0, 0)), 0x7FFFFFFEu);
        break;
      case ControlKind::PushButton:
        EXPECT_EQ(classOf(hwnd), L"Button");
        EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));  // never a default button
        EXPECT_EQ(controlText(layout.number), *layout.firstText);
        break;
      case ControlKind::List:
        EXPECT_EQ(classOf(hwnd), L"ListBox");
        EXPECT_TRUE(style & LBS_NOTIFY);
        EXPECT_TRUE(style & LBS_NOINTEGRALHEIGHT);
        EXPECT_FALSE(style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL | LBS_SORT));
        EXPECT_TRUE(exStyle & WS_EX_CLIENTEDGE);
        break;
    }
  }
}

TEST_F(Win32Ui, TextsReachTheSystemAsUtf16FromWindows1250) {
  wchar_t text[64] = {};
  GetWindowTextW(controlWindow(LuckLabel), text, 64);
  EXPECT_STREQ(text, L"Szczęście:");
  GetWindowTextW(controlWindow(DeleteButton), text, 64);
  EXPECT_STREQ(text, L"Usuń");

  // Every Polish letter, both ways, and the system sees the real characters.
  const std::string polish = "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF";
  setControlText(NewAccountField, polish);
  GetWindowTextW(controlWindow(NewAccountField), text, 64);
  EXPECT_STREQ(text, L"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
  EXPECT_EQ(controlText(NewAccountField), polish);

  appendItem(AccountList, polish);
  wchar_t item[64] = {};
  SendMessageW(controlWindow(AccountList), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_STREQ(item, L"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
}

TEST_F(Win32Ui, ATextFieldTakesALongTextWhole) {
  std::string link = "http://127.0.0.1/";
  while (link.size() < 70000) link += "abcdefghij";
  setControlText(LinkField, link);
  EXPECT_EQ(controlText(LinkField), link);
}

TEST_F(Win32Ui, ChangesMadeByTheProgramAreQueuedForTheLoop) {
  setControlText(LuckField, "12");
  const std::vector<UiEvent> events = drainEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().kind, EventKind::controlEvent);
  EXPECT_EQ(events.front().window, MainWindow);
  EXPECT_EQ(events.front().control, LuckField);
  EXPECT_EQ(waitEvent(20).kind, EventKind::noEvent);
}

TEST_F(Win32Ui, EnterAndEscapeReachNoControl) {
  // The dialog manager turns Enter and Escape into IDOK and IDCANCEL
  // commands; no control may answer to them.
  const HWND main = findWindow(MainWindow);
  SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(drainEvents().empty());
}

TEST_F(Win32Ui, TheListKeepsItsHeightAndScrollsWhenTheItemsDoNotFit) {
  const HWND list = controlWindow(AccountList);
  for (int i = 0; i < 20; ++i) appendItem(AccountList, "konto " + std::to_string(i));
  const RECT r = rectInParent(list);
  EXPECT_EQ(r.bottom - r.top, 100);
  EXPECT_TRUE(GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL);
  selectIndex(AccountList, 19);
  EXPECT_EQ(controlText(AccountList), "konto 19");
}

}  // namespace
