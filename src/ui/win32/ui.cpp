// Win32 back-end of model/ui.h: two top-level windows with the system's
// standard controls ("Static", "ComboBox", "Edit", "Button", "ListBox").
//
// The window procedures only translate: a WM_COMMAND notification or a
// WM_CLOSE becomes a UiEvent in a queue, and waitEvent hands the queue out one
// event at a time. Nothing is decided or dispatched inside a window procedure,
// so a change the program makes itself (SetWindowText firing EN_CHANGE) is
// merely queued and reaches the loop after the running action.
//
// Texts cross this edge as Windows-1250 bytes and are converted to and from
// UTF-16 explicitly, never through the system code page, so the Polish texts
// are right on every Windows.
//
// The program is DPI aware (per monitor, see the manifest): the layout's
// pixels are those of a 96-DPI screen, and every rectangle and the font are
// scaled by the window's DPI / 96, so at 150 % scaling the windows are drawn
// at 1.5 times their size by the program itself, crisp, instead of being
// stretched as a bitmap by the system. At 96 DPI nothing is scaled.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>

#include "model/controls.h"
#include "model/ui.h"
#include "encoding/cp1250.h"

namespace {

// Child-window ids are the control numbers shifted clear of IDOK and IDCANCEL,
// which the dialog manager sends for Enter and Escape.
constexpr int kIdBase = 1000;
constexpr wchar_t kWindowClass[] = L"WyprawyWindow";
constexpr DWORD kFrameStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kFrameExStyle = 0;
constexpr int kClosedComboHeight = 20;
constexpr UINT kLayoutDpi = 96;

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// One press of the left button on the account list, for the mouse-up and
// drag-start events that the list box itself does not notify.
struct ListPress {
  bool down = false;
  bool onItem = false;
  bool dragReported = false;
  POINT at{};
};

// The per-monitor DPI functions came with Windows 10 (1607). They are looked
// up at run time, so the program also starts on Windows 7 and 8, where every
// window has the system DPI (and Windows 8.1 reports a monitor change through
// WM_DPICHANGED alone).
struct DpiFunctions {
  UINT(WINAPI* dpiForWindow)(HWND) = nullptr;
  UINT(WINAPI* dpiForSystem)() = nullptr;
  BOOL(WINAPI* adjustWindowRectExForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
  int(WINAPI* systemMetricsForDpi)(int, UINT) = nullptr;
};

template <typename Function>
Function user32Function(HMODULE user32, const char* name) {
  const FARPROC found = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
  // Through void (*)(): the one function-pointer type that converts to any
  // other without a cast-function-type warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

DpiFunctions loadDpiFunctions() {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  DpiFunctions f;
  f.dpiForWindow = user32Function<decltype(f.dpiForWindow)>(user32, "GetDpiForWindow");
  f.dpiForSystem = user32Function<decltype(f.dpiForSystem)>(user32, "GetDpiForSystem");
  f.adjustWindowRectExForDpi =
      user32Function<decltype(f.adjustWindowRectExForDpi)>(user32, "AdjustWindowRectExForDpi");
  f.systemMetricsForDpi = user32Function<decltype(f.systemMetricsForDpi)>(user32, "GetSystemMetricsForDpi");
  return f;
}

struct Backend {
  HINSTANCE instance = nullptr;
  DpiFunctions dpiFunctions;
  // The DPI that a new window starts with.
  UINT systemDpi = kLayoutDpi;
  HFONT stockFont = nullptr;
  // Per window: its DPI and the font of its controls at that DPI (the stock
  // font, or one of our own that is deleted when replaced).
  UINT dpi[2] = {kLayoutDpi, kLayoutDpi};
  HFONT fonts[2] = {nullptr, nullptr};
  HWND windows[2] = {nullptr, nullptr};
  HWND controls[kControlCount] = {};
  // The control that had the focus when a window was last deactivated; it
  // gets the focus back on activation, as in a dialog.
  HWND lastFocus[2] = {nullptr, nullptr};
  ListPress press;
  std::deque<UiEvent> queue;
};

Backend& backend() {
  static Backend b;
  return b;
}

// A length of the layout (pixels at 96 DPI) at the given DPI, rounded to the
// nearest pixel.
int scaled(int length, UINT dpi) {
  return MulDiv(length, static_cast<int>(dpi), static_cast<int>(kLayoutDpi));
}

UINT screenDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kLayoutDpi;
}

UINT systemDpiNow() {
  const DpiFunctions& f = backend().dpiFunctions;
  const UINT dpi = f.dpiForSystem != nullptr ? f.dpiForSystem() : 0;
  return dpi != 0 ? dpi : screenDpi();
}

UINT dpiOfWindow(HWND hwnd) {
  const Backend& b = backend();
  const UINT dpi = b.dpiFunctions.dpiForWindow != nullptr ? b.dpiFunctions.dpiForWindow(hwnd) : 0;
  return dpi != 0 ? dpi : b.systemDpi;
}

int systemMetric(int index, UINT dpi) {
  const DpiFunctions& f = backend().dpiFunctions;
  return f.systemMetricsForDpi != nullptr ? f.systemMetricsForDpi(index, dpi) : GetSystemMetrics(index);
}

// The stock user-interface font (DEFAULT_GUI_FONT) is MS Shell Dlg at 8
// points, made once for the system DPI. A window at another DPI gets the same
// face at 8 points for its DPI, as the dialog manager sizes a dialog's font;
// where that is the stock font's height, the stock font itself.
constexpr int kUiFontPoints = 8;

HFONT fontForDpi(UINT dpi) {
  const HFONT stock = backend().stockFont;
  LOGFONTW font{};
  if (GetObjectW(stock, sizeof(font), &font) == 0) return stock;
  const LONG height = -MulDiv(kUiFontPoints, static_cast<int>(dpi), 72);
  if (font.lfHeight == height) return stock;
  font.lfHeight = height;
  font.lfWidth = 0;
  const HFONT made = CreateFontIndirectW(&font);
  return made != nullptr ? made : stock;
}

void releaseFont(HFONT font) {
  if (font != nullptr && font != backend().stockFont) DeleteObject(font);
}

std::wstring toWide(const std::string& cp1250) {
  const std::u16string u16 = cp1250ToUtf16(cp1250);
  return std::wstring(u16.begin(), u16.end());
}

std::string fromWide(const std::wstring& wide) {
  return utf16ToCp1250(std::u16string(wide.begin(), wide.end()));
}

int32_t windowNumberOf(HWND hwnd) {
  for (int32_t w = 0; w < 2; ++w) {
    if (hwnd != nullptr && backend().windows[w] == hwnd) return w;
  }
  return -1;
}

int32_t controlNumberOf(HWND hwnd) {
  if (hwnd == nullptr) return -1;
  for (int32_t c = 0; c < kControlCount; ++c) {
    if (backend().controls[c] == hwnd) return c;
  }
  return -1;
}

HWND controlHandle(int32_t control) {
  if (control < 0 || control >= kControlCount) return nullptr;
  return backend().controls[control];
}

void queueControlEvent(int32_t control) {
  backend().queue.push_back({EventKind::controlEvent, kControls[control].window, control});
}

// Which notifications count as a user action of the control (the others, such
// as EN_UPDATE or EN_HSCROLL, are ignored).
bool reportsEvent(ControlKind kind, WORD code) {
  switch (kind) {
    case ControlKind::DropDown:
      return code == CBN_SETFOCUS || code == CBN_KILLFOCUS || code == CBN_DROPDOWN || code == CBN_CLOSEUP ||
             code == CBN_SELCHANGE || code == CBN_SELENDOK || code == CBN_SELENDCANCEL;
    case ControlKind::TextField:
      return code == EN_CHANGE || code == EN_SETFOCUS || code == EN_KILLFOCUS;
    case ControlKind::PushButton:
      return code == BN_CLICKED;
    case ControlKind::List:
      return code == LBN_SELCHANGE || code == LBN_DBLCLK;
    case ControlKind::Label:
      return false;
  }
  return false;
}

void onCommand(WPARAM wParam, LPARAM lParam) {
  // Identified by the sender's handle: the dialog manager's IDOK / IDCANCEL
  // (Enter, Escape) come with no control of ours and are dropped here, so no
  // button is a default button.
  const int32_t control = controlNumberOf(reinterpret_cast<HWND>(lParam));
  if (control < 0 || LOWORD(wParam) != kIdBase + control) return;
  if (reportsEvent(kControls[control].kind, HIWORD(wParam))) queueControlEvent(control);
}

bool isOurChild(HWND window, HWND child) { return child != nullptr && IsChild(window, child); }

HWND firstTabStop(HWND window) { return GetNextDlgTabItem(window, nullptr, FALSE); }

void layOutControls(int32_t window, UINT dpi);

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const int32_t window = windowNumberOf(hwnd);
  if (window >= 0) {
    Backend& b = backend();
    switch (message) {
      case WM_COMMAND:
        onCommand(wParam, lParam);
        return 0;
      case WM_CLOSE:
        // Never DefWindowProc: that would destroy the window. The loop decides.
        b.queue.push_back({EventKind::closeEvent, window, -1});
        return 0;
      case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
          const HWND focus = GetFocus();
          if (isOurChild(hwnd, focus)) b.lastFocus[window] = focus;
        } else if (HIWORD(wParam) == 0) {  // not minimised
          HWND target = b.lastFocus[window];
          if (!isOurChild(hwnd, target)) target = firstTabStop(hwnd);
          if (target != nullptr) {
            SetFocus(target);
            return 0;
          }
        }
        break;
      case WM_DPICHANGED: {
        // Moved to a monitor of another DPI (or its scaling changed): the
        // system suggests the window's new outer rectangle.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        layOutControls(window, LOWORD(wParam));
        if (suggested != nullptr) {
          SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
      }
      case WM_SETFOCUS:
        // The frame itself never keeps the focus; pass it to the remembered control.
        if (isOurChild(hwnd, b.lastFocus[window])) {
          SetFocus(b.lastFocus[window]);
          return 0;
        }
        break;
      default:
        break;
    }
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The list box notifies selection changes and double clicks itself; the
// release of a press on an item and the start of a drag are seen here.
LRESULT CALLBACK listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId,
                          DWORD_PTR controlNumber) {
  ListPress& press = backend().press;
  const auto control = static_cast<int32_t>(controlNumber);
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      const LRESULT hit = SendMessageW(hwnd, LB_ITEMFROMPOINT, 0, lParam);
      const auto count = SendMessageW(hwnd, LB_GETCOUNT, 0, 0);
      press.down = true;
      press.onItem = HIWORD(hit) == 0 && static_cast<LRESULT>(LOWORD(hit)) < count;
      press.dragReported = false;
      press.at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      break;
    }
    case WM_MOUSEMOVE:
      if (press.down && press.onItem && !press.dragReported && (wParam & MK_LBUTTON) != 0) {
        const int dx = static_cast<short>(LOWORD(lParam)) - press.at.x;
        const int dy = static_cast<short>(HIWORD(lParam)) - press.at.y;
        if (std::abs(dx) > GetSystemMetrics(SM_CXDRAG) || std::abs(dy) > GetSystemMetrics(SM_CYDRAG)) {
          press.dragReported = true;
          queueControlEvent(control);
        }
      }
      break;
    case WM_LBUTTONUP: {
      const bool onItem = press.down && press.onItem;
      press = ListPress{};
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      if (onItem) queueControlEvent(control);
      return result;
    }
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != hwnd) press = ListPress{};
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, listProc, subclassId);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// A drop-down list's closed height follows the height of its selection field;
// set that field so the closed control is exactly 20 pixels tall (at 96 DPI).
// Steered by the measured height and the value last set, because the reported
// field height need not be the value that was set (Wine adds its padding).
void fitClosedComboHeight(HWND combo, UINT dpi) {
  auto field = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
  if (field == CB_ERR) return;
  const int wanted = scaled(kClosedComboHeight, dpi);
  for (int attempt = 0; attempt < 4; ++attempt) {
    RECT r{};
    GetWindowRect(combo, &r);
    const int delta = wanted - (r.bottom - r.top);
    if (delta == 0 || field + delta < 1) return;
    field += delta;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
  }
}

// The opened list reaches at most kDropDownListReach below the control's top:
// the creation height says so for the classic list, and the number of visible
// items says so for the visual-style list, which sizes itself by items.
void limitComboList(HWND combo, UINT dpi) {
  const auto item = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
  if (item <= 0) return;
  const int room =
      scaled(kDropDownListReach, dpi) - scaled(kClosedComboHeight, dpi) - 2 * systemMetric(SM_CYBORDER, dpi);
  SendMessageW(combo, CB_SETMINVISIBLE, static_cast<WPARAM>(std::max(1, room / item)), 0);
}

struct ClassAndStyle {
  const wchar_t* className;
  DWORD style;
  DWORD exStyle;
};

ClassAndStyle classAndStyle(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
      // SS_NOPREFIX: an '&' in a shown text is a character, not a mnemonic.
      return {L"Static", SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::DropDown:
      return {L"ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
    case ControlKind::TextField:
      return {L"Edit", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ControlKind::PushButton:
      return {L"Button", BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ControlKind::List:
      return {L"ListBox", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
  }
  return {L"Static", SS_LEFT, 0};
}

// A control's rectangle in its window at the DPI. A combo box is given its
// opened height; it shrinks itself to the selection field when closed.
RECT controlRect(const ControlSpec& layout, UINT dpi) {
  const int height = layout.kind == ControlKind::DropDown ? kDropDownListReach : layout.height;
  const int left = scaled(layout.x, dpi);
  const int top = scaled(layout.y, dpi);
  return {left, top, left + scaled(layout.width, dpi), top + scaled(height, dpi)};
}

// What follows a change of the font or the size of a drop-down list.
void fitDropDown(HWND combo, UINT dpi) {
  fitClosedComboHeight(combo, dpi);
  limitComboList(combo, dpi);
}

void createControl(const ControlSpec& layout, HWND parent) {
  Backend& b = backend();
  const ClassAndStyle cs = classAndStyle(layout.kind);
  const UINT dpi = b.dpi[layout.window];
  const RECT r = controlRect(layout, dpi);
  const std::wstring text = layout.kind == ControlKind::Label || layout.kind == ControlKind::PushButton
                                ? toWide(*layout.firstText)
                                : std::wstring();
  HWND hwnd = CreateWindowExW(cs.exStyle, cs.className, text.c_str(), WS_CHILD | WS_VISIBLE | cs.style,
                              r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdBase + layout.number)),
                              b.instance, nullptr);
  if (hwnd == nullptr) return;
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(b.fonts[layout.window]), FALSE);
  switch (layout.kind) {
    case ControlKind::DropDown:
      fitDropDown(hwnd, dpi);
      break;
    case ControlKind::TextField:
      SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);  // 0: the largest the control allows
      if (!layout.firstText->empty()) SetWindowTextW(hwnd, toWide(*layout.firstText).c_str());
      break;
    case ControlKind::List:
      SetWindowSubclass(hwnd, listProc, 1, static_cast<DWORD_PTR>(layout.number));
      break;
    default:
      break;
  }
  b.controls[layout.number] = hwnd;
}

// Outer rectangle for the window's client size at the DPI, placed as the
// layout says: centred on the primary screen (outer size first limited to the
// screen), or with its outer top-left corner at the given point, which is a
// place on the screen and so is not scaled.
RECT outerRect(const WindowSpec& layout, UINT dpi) {
  RECT r{0, 0, scaled(layout.clientWidth, dpi), scaled(layout.clientHeight, dpi)};
  const DpiFunctions& f = backend().dpiFunctions;
  if (f.adjustWindowRectExForDpi == nullptr ||
      !f.adjustWindowRectExForDpi(&r, kFrameStyle, FALSE, kFrameExStyle, dpi)) {
    AdjustWindowRectEx(&r, kFrameStyle, FALSE, kFrameExStyle);
  }
  int width = r.right - r.left;
  int height = r.bottom - r.top;
  int left = layout.outerLeft;
  int top = layout.outerTop;
  if (layout.centred) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    width = std::min(width, screenWidth);
    height = std::min(height, screenHeight);
    left = (screenWidth - width) / 2;
    top = (screenHeight - height) / 2;
  }
  return {left, top, left + width, top + height};
}

// Puts the window's controls at their places for a new DPI and gives them
// the font for it.
void layOutControls(int32_t window, UINT dpi) {
  Backend& b = backend();
  const HFONT old = b.fonts[window];
  b.dpi[window] = dpi;
  b.fonts[window] = fontForDpi(dpi);
  for (const ControlSpec& layout : kControls) {
    const HWND hwnd = b.controls[layout.number];
    if (layout.window != window || hwnd == nullptr) continue;
    const RECT r = controlRect(layout, dpi);
    SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(b.fonts[window]), TRUE);
    if (layout.kind == ControlKind::DropDown) fitDropDown(hwnd, dpi);
  }
  releaseFont(old);
}

bool openWindow(int32_t number) {
  Backend& b = backend();
  const WindowSpec& layout = kWindows[number];
  // Sized first for the system DPI; a window that lands on a monitor of
  // another DPI is then sized and placed again for that monitor's.
  RECT r = outerRect(layout, b.systemDpi);
  HWND hwnd =
      CreateWindowExW(kFrameExStyle, kWindowClass, toWide(*layout.title).c_str(), kFrameStyle, r.left, r.top,
                      r.right - r.left, r.bottom - r.top, nullptr, nullptr, b.instance, nullptr);
  if (hwnd == nullptr) return false;
  b.windows[number] = hwnd;
  const UINT dpi = dpiOfWindow(hwnd);
  if (dpi != b.systemDpi) {
    r = outerRect(layout, dpi);
    SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  releaseFont(b.fonts[number]);
  b.dpi[number] = dpi;
  b.fonts[number] = fontForDpi(dpi);
  for (const ControlSpec& control : kControls) {
    if (control.window == number) createControl(control, hwnd);
  }
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  return true;
}

enum class Kind { None, DropDown, List, Other };

Kind kindOf(int32_t control) {
  if (controlHandle(control) == nullptr) return Kind::None;
  switch (kControls[control].kind) {
    case ControlKind::DropDown:
      return Kind::DropDown;
    case ControlKind::List:
      return Kind::List;
    default:
      return Kind::Other;
  }
}

std::wstring windowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

std::wstring itemText(HWND hwnd, bool list, int32_t index) {
  const UINT lenMsg = list ? LB_GETTEXTLEN : CB_GETLBTEXTLEN;
  const UINT textMsg = list ? LB_GETTEXT : CB_GETLBTEXT;
  const auto length = SendMessageW(hwnd, lenMsg, static_cast<WPARAM>(index), 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const auto got = SendMessageW(hwnd, textMsg, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
  return text;
}

int32_t itemCount(HWND hwnd, bool list) {
  return static_cast<int32_t>(SendMessageW(hwnd, list ? LB_GETCOUNT : CB_GETCOUNT, 0, 0));
}

int32_t currentSelection(HWND hwnd, bool list) {
  const auto sel = SendMessageW(hwnd, list ? LB_GETCURSEL : CB_GETCURSEL, 0, 0);
  return sel < 0 ? -1 : static_cast<int32_t>(sel);
}

void setSelection(HWND hwnd, bool list, int32_t index) {
  const int32_t count = itemCount(hwnd, list);
  const int32_t target = (index >= 0 && index < count) ? index : -1;
  SendMessageW(hwnd, list ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(target), 0);
}

// Hands one message to the dialog manager of the window it belongs to, for
// Tab / Shift+Tab between the controls, or dispatches it as usual.
void handleMessage(MSG& msg) {
  const HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (windowNumberOf(root) >= 0 && IsDialogMessageW(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

}  // namespace

bool startUi() {
  Backend& b = backend();
  b.instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  b.dpiFunctions = loadDpiFunctions();
  b.systemDpi = systemDpiNow();
  b.stockFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = windowProc;
  wc.hInstance = b.instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kWindowClass;
  // Already registered counts as done: a second start in one process (tests)
  // uses the same class.
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void destroyWindows() {
  Backend& b = backend();
  for (HWND& window : b.windows) {
    if (window != nullptr) DestroyWindow(window);
    window = nullptr;
  }
  for (HWND& control : b.controls) control = nullptr;
  for (HFONT& font : b.fonts) {
    releaseFont(font);
    font = nullptr;
  }
  b.lastFocus[0] = b.lastFocus[1] = nullptr;
  b.queue.clear();
}

bool openMainWindow() { return openWindow(MainWindow); }

void openSettingsWindow() { openWindow(SettingsWindow); }

UiEvent waitEvent(int32_t timeoutMs) {
  Backend& b = backend();
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
  for (;;) {
    MSG msg;
    while (b.queue.empty() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) handleMessage(msg);
    if (!b.queue.empty()) {
      const UiEvent event = b.queue.front();
      b.queue.pop_front();
      return event;
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return UiEvent{};
    // Sleeps until a message arrives or the time is up: no polling while idle.
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

int32_t selectedIndex(int32_t control) {
  switch (kindOf(control)) {
    case Kind::None:
      return 0;
    case Kind::DropDown:
      return currentSelection(controlHandle(control), false);
    case Kind::List:
      return currentSelection(controlHandle(control), true);
    case Kind::Other:
      return -1;
  }
  return 0;
}

void selectIndex(int32_t control, int32_t index) {
  const Kind kind = kindOf(control);
  if (kind == Kind::DropDown || kind == Kind::List) setSelection(controlHandle(control), kind == Kind::List, index);
}

std::string controlText(int32_t control) {
  const Kind kind = kindOf(control);
  HWND hwnd = controlHandle(control);
  switch (kind) {
    case Kind::None:
      return {};
    case Kind::DropDown:
    case Kind::List: {
      const bool list = kind == Kind::List;
      const int32_t sel = currentSelection(hwnd, list);
      return sel < 0 ? std::string() : fromWide(itemText(hwnd, list, sel));
    }
    case Kind::Other:
      return fromWide(windowText(hwnd));
  }
  return {};
}

void setControlText(int32_t control, const std::string& text) {
  if (kindOf(control) != Kind::Other) return;
  HWND hwnd = controlHandle(control);
  SetWindowTextW(hwnd, toWide(text).c_str());
  // Painted now, not at the next pump: the action that set it may hold the
  // loop for a while (a download), and the label must already show it.
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void appendItem(int32_t control, const std::string& text) {
  const Kind kind = kindOf(control);
  if (kind != Kind::DropDown && kind != Kind::List) return;
  const std::wstring wide = toWide(text);
  SendMessageW(controlHandle(control), kind == Kind::List ? LB_ADDSTRING : CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(wide.c_str()));
}

void removeItem(int32_t control, int32_t index) {
  const Kind kind = kindOf(control);
  if (kind != Kind::DropDown && kind != Kind::List) return;
  const bool list = kind == Kind::List;
  HWND hwnd = controlHandle(control);
  if (index < 0 || index >= itemCount(hwnd, list)) return;
  const int32_t selected = currentSelection(hwnd, list);
  SendMessageW(hwnd, list ? LB_DELETESTRING : CB_DELETESTRING, static_cast<WPARAM>(index), 0);
  // The selection stays with its item; the removed item leaves none selected.
  const int32_t wanted = selected == index ? -1 : (selected > index ? selected - 1 : selected);
  if (currentSelection(hwnd, list) != wanted) setSelection(hwnd, list, wanted);
}

void showMessage(const std::string& title, const std::string& text) {
  Backend& b = backend();
  const HWND foreground = GetForegroundWindow();
  const HWND owner = windowNumberOf(foreground) >= 0 ? foreground : nullptr;
  // The box disables and re-enables its owner itself (re-enabling before it
  // goes, so the activation returns to the owner); the other visible window
  // is disabled here for as long as the box shows.
  bool disabled[2] = {false, false};
  for (int32_t w = 0; w < 2; ++w) {
    HWND window = b.windows[w];
    if (window == nullptr || window == owner || !IsWindowVisible(window) || !IsWindowEnabled(window)) continue;
    EnableWindow(window, FALSE);
    disabled[w] = true;
  }
  MessageBoxW(owner, toWide(text).c_str(), toWide(title).c_str(), MB_OK);
  for (int32_t w = 0; w < 2; ++w) {
    if (disabled[w] && b.windows[w] != nullptr) EnableWindow(b.windows[w], TRUE);
  }
}
