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
#include <cwchar>
#include <string>
#include <vector>

#include "app/app.h"
#include "model/controls.h"
#include "model/texts.h"
#include "model/ui.h"
#include "ui_contract/ui_contract.h"
#include "win32/win32_user.h"

namespace {

using Win32UiContract = UiContract<Win32User>;
TEST_P(Win32UiContract, Holds) { GetParam().run(user_); }
INSTANTIATE_TEST_SUITE_P(Win32, Win32UiContract, testing::ValuesIn(uiContractCases()), uiContractCaseName);

// The DPI the windows are expected at: 96, unless the run names another in
// WYPRAWY_EXPECTED_DPI (e2e/ runs this suite again in a Wine prefix set to
// 144 DPI). The layout's lengths are multiples of 10, so at 96, 144 and 192
// DPI every scaled length is a whole number of pixels.
UINT expectedDpi() {
  static const UINT dpi = [] {
    wchar_t value[16] = {};
    const DWORD length = GetEnvironmentVariableW(L"WYPRAWY_EXPECTED_DPI", value, 16);
    const long parsed = length > 0 && length < 16 ? std::wcstol(value, nullptr, 10) : 0;
    return parsed > 0 ? static_cast<UINT>(parsed) : 96u;
  }();
  return dpi;
}

// A layout length at a DPI, to the nearest pixel (halves round up).
int atDpi(int length, UINT dpi) { return (length * static_cast<int>(dpi) + 48) / 96; }

// A layout length at the expected DPI.
int px(int length) { return atDpi(length, expectedDpi()); }

// Windows 10's GetDpiForWindow, absent from older systems; 0 without it.
UINT dpiForWindow(HWND hwnd) {
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
  if (found == nullptr) return 0;
  return reinterpret_cast<UINT(WINAPI*)(HWND)>(reinterpret_cast<void (*)()>(found))(hwnd);
}

// The height of a line of text in the control's font.
int lineHeight(HWND control) {
  const HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return metrics.tmHeight;
}

// The height that a label needs for its text, wrapped at its width as a
// "Static" control wraps it.
int wrappedTextHeight(HWND label) {
  wchar_t text[512] = {};
  GetWindowTextW(label, text, 512);
  RECT client{};
  GetClientRect(label, &client);
  const HDC dc = GetDC(label);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
  RECT r{0, 0, client.right, 0};
  DrawTextW(dc, text, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return r.bottom - r.top;
}

std::wstring faceOf(WPARAM font) {
  LOGFONTW logical{};
  GetObjectW(reinterpret_cast<HGDIOBJ>(font), sizeof(logical), &logical);
  return logical.lfFaceName;
}

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
    EXPECT_EQ(client.right, px(layout.clientWidth)) << layout.number;
    EXPECT_EQ(client.bottom, px(layout.clientHeight)) << layout.number;
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
    EXPECT_EQ(r.left, px(layout.x));
    EXPECT_EQ(r.top, px(layout.y));
    EXPECT_EQ(r.right - r.left, px(layout.width));
    EXPECT_EQ(r.bottom - r.top, px(layout.height));  // drop-down lists closed: 20 at 96 DPI
    const auto font = static_cast<WPARAM>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    if (expectedDpi() == 96) {
      EXPECT_EQ(font, guiFont);
    } else {  // the same face, sized for the DPI
      EXPECT_EQ(faceOf(font), faceOf(guiFont));
    }

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
  EXPECT_EQ(r.bottom - r.top, px(100));
  EXPECT_TRUE(GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL);
  selectIndex(AccountList, 19);
  EXPECT_EQ(controlText(AccountList), "konto 19");
}

TEST_F(Win32Ui, TheWindowsAndTheFontAreAtTheExpectedDpi) {
  for (const WindowSpec& layout : kWindows) {
    const UINT dpi = dpiForWindow(findWindow(layout.number));
    if (dpi != 0) {
      EXPECT_EQ(dpi, expectedDpi()) << layout.number;
    }
  }
  // The font grows with the DPI: three lines fill most of ResultLabel's
  // height at every DPI, where a font left at 96 DPI would fill half of it
  // at 144.
  const int line = lineHeight(controlWindow(ResultLabel));
  EXPECT_LE(3 * line, px(40));
  EXPECT_GE(4 * line, px(40));
}

TEST_F(Win32Ui, TheThreeLinesOfASummaryFitResultLabel) {
  const HWND label = controlWindow(ResultLabel);
  const int line = lineHeight(label);
  RECT client{};
  GetClientRect(label, &client);
  // The longest attribute names with the widest numbers a page gives.
  for (const char* stat : {"inteligencja", "odporno\xB9\xE6", "charyzma", "zwinno\x9C\xE6"}) {
    const std::string summary = txt::SummaryRead + "25" + txt::SummaryStat + stat + txt::SummaryChance + "100" +
                                txt::SummaryLuck + "255" + txt::SummarySuccess + txt::Yes;
    SCOPED_TRACE(summary);
    setControlText(ResultLabel, summary);
    EXPECT_EQ(wrappedTextHeight(label), 3 * line) << "a line wrapped";
    EXPECT_LE(3 * line, client.bottom);
  }
}

TEST_F(Win32Ui, ADpiChangeTakesTheSuggestedRectangleAndLaysTheControlsOutAgain) {
  // As when a window is moved to a monitor of another DPI: the system sends
  // WM_DPICHANGED with the new DPI and a suggested outer rectangle.
  const HWND main = findWindow(MainWindow);
  RECT before{};
  GetWindowRect(main, &before);
  const int lineBefore = lineHeight(controlWindow(ResultLabel));
  const auto fontHeight = [] {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(controlWindow(AccountLabel), WM_GETFONT, 0, 0)),
               sizeof(font), &font);
    return font.lfHeight;
  };
  const LONG fontBefore = fontHeight();
  for (const UINT dpi : {192u, 120u, expectedDpi()}) {
    SCOPED_TRACE(dpi);
    RECT suggested{40, 30, 40 + atDpi(200, dpi) + 20, 30 + atDpi(300, dpi) + 40};
    if (dpi == expectedDpi()) suggested = before;
    SendMessageW(main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    RECT outer{};
    GetWindowRect(main, &outer);
    EXPECT_TRUE(EqualRect(&outer, &suggested)) << outer.left << "," << outer.top << " " << outer.right << ","
                                               << outer.bottom;
    for (const ControlSpec& layout : kControls) {
      if (layout.window != MainWindow) continue;
      SCOPED_TRACE(layout.name);
      const RECT r = rectInParent(controlWindow(layout.number));
      EXPECT_EQ(r.left, atDpi(layout.x, dpi));
      EXPECT_EQ(r.top, atDpi(layout.y, dpi));
      EXPECT_EQ(r.right - r.left, atDpi(layout.width, dpi));
      EXPECT_EQ(r.bottom - r.top, atDpi(layout.height, dpi));
    }
    // The font is made anew for the DPI: its lines grow in proportion,
    const int expectedLine = lineBefore * static_cast<int>(dpi) / static_cast<int>(expectedDpi());
    EXPECT_NEAR(lineHeight(controlWindow(ResultLabel)), expectedLine, 2);
    // and a summary's three lines still fit ResultLabel.
    setControlText(ResultLabel, txt::SummaryRead + "25" + txt::SummaryStat + "inteligencja" + txt::SummaryChance +
                                    "100" + txt::SummaryLuck + "255" + txt::SummarySuccess + txt::Yes);
    RECT label{};
    GetClientRect(controlWindow(ResultLabel), &label);
    EXPECT_LE(wrappedTextHeight(controlWindow(ResultLabel)), label.bottom);
  }
  // Back at the first DPI: the font of the start again.
  EXPECT_EQ(fontHeight(), fontBefore);
}

}  // namespace
