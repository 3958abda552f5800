#include "win32/win32_user.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "model/controls.h"
#include "encoding/cp1250.h"

HWND findWindow(int32_t number) {
  if (number != MainWindow && number != SettingsWindow) return nullptr;
  struct Search {
    const wchar_t* title;
    HWND found;
  } search{number == MainWindow ? L"Dodaj wyprawę" : L"Ustawienia", nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t title[64] = {};
        GetWindowTextW(hwnd, title, 64);
        if (std::wstring(title) != s->title) return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> childrenOf(HWND window) {
  std::vector<HWND> children;
  if (window == nullptr) return children;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

HWND controlWindow(int32_t control) {
  if (control < 0 || control >= kControlCount) return nullptr;
  const ControlSpec& layout = kControls[control];
  size_t index = 0;
  for (const ControlSpec& other : kControls) {
    if (other.window == layout.window && other.number < layout.number) ++index;
  }
  const std::vector<HWND> children = childrenOf(findWindow(layout.window));
  return index < children.size() ? children[index] : nullptr;
}

namespace {

bool ours(HWND root) {
  return root != nullptr && (root == findWindow(MainWindow) || root == findWindow(SettingsWindow));
}

// Handles the messages waiting now as the program's loop does: through the
// dialog manager of their window (Tab, Enter), else translated and dispatched.
void pump() {
  MSG msg;
  for (int i = 0; i < 10000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    const HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (ours(root) && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Waits, handling messages, until done() holds or limitMs has passed.
template <typename Done>
bool waitFor(Done done, DWORD limitMs) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  for (;;) {
    pump();
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10)),
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

LPARAM clientPoint(POINT p) { return MAKELPARAM(static_cast<SHORT>(p.x), static_cast<SHORT>(p.y)); }

LPARAM keyData(UINT vk, bool up) {
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  LPARAM data = 1 | static_cast<LPARAM>(scan << 16);
  if (up) data |= static_cast<LPARAM>(0xC0000000u);
  return data;
}

bool isList(int32_t control) { return kControls[control].kind == ControlKind::List; }

}  // namespace

bool Win32User::open() {
  if (!startUi() || !openMainWindow()) return false;
  openSettingsWindow();
  // Opened last, SettingsWindow is in front.
  waitFor([] { return GetForegroundWindow() == findWindow(SettingsWindow); }, 2000);
  pump();
  return findWindow(MainWindow) != nullptr && findWindow(SettingsWindow) != nullptr;
}

void Win32User::close() {
  pressed_ = nullptr;
  destroyWindows();
  pump();
}

// As a click on its frame would: the window comes to the foreground and
// takes the keyboard.
void Win32User::activate(int32_t number) {
  const HWND window = findWindow(number);
  if (window == nullptr || (GetForegroundWindow() == window && GetActiveWindow() == window)) return;
  SetForegroundWindow(window);
  if (!waitFor([window] { return GetForegroundWindow() == window && GetActiveWindow() == window; }, 2000))
    ADD_FAILURE() << "window " << number << " did not come to the foreground";
}

void Win32User::clickAt(int32_t number, HWND control, POINT screen, int count) {
  activate(number);
  // A label is transparent to the mouse: its window gets the click.
  HWND target = control;
  if (SendMessageW(control, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)) == HTTRANSPARENT)
    target = GetParent(control);
  POINT p = screen;
  ScreenToClient(target, &p);
  SetCursorPos(screen.x, screen.y);
  PostMessageW(target, WM_MOUSEMOVE, 0, clientPoint(p));
  PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, clientPoint(p));
  PostMessageW(target, WM_LBUTTONUP, 0, clientPoint(p));
  if (count == 2) {
    PostMessageW(target, WM_LBUTTONDBLCLK, MK_LBUTTON, clientPoint(p));
    PostMessageW(target, WM_LBUTTONUP, 0, clientPoint(p));
  }
  pump();
}

void Win32User::click(int32_t control) {
  const ControlSpec& layout = kControls[control];
  if (layout.kind == ControlKind::DropDown || layout.kind == ControlKind::List) {
    ADD_FAILURE() << "click() is for buttons, text fields and labels";
    return;
  }
  const HWND hwnd = controlWindow(control);
  if (hwnd == nullptr) {
    ADD_FAILURE() << "no control " << layout.name;
    return;
  }
  RECT r{};
  GetWindowRect(hwnd, &r);
  clickAt(layout.window, hwnd, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, 1);
}

bool Win32User::rowPoint(int32_t list, int32_t row, bool below, POINT* screen) {
  const HWND hwnd = controlWindow(list);
  if (hwnd == nullptr || !isList(list)) {
    ADD_FAILURE() << "no list " << list;
    return false;
  }
  const auto count = static_cast<int32_t>(SendMessageW(hwnd, LB_GETCOUNT, 0, 0));
  const int32_t target = below ? count - 1 : row;
  if (target < 0 || target >= count) {
    ADD_FAILURE() << "no row " << target;
    return false;
  }
  RECT item{};
  SendMessageW(hwnd, LB_GETITEMRECT, static_cast<WPARAM>(target), reinterpret_cast<LPARAM>(&item));
  POINT p{item.left + 20, below ? item.bottom + 15 : (item.top + item.bottom) / 2};
  RECT client{};
  GetClientRect(hwnd, &client);
  if (below && p.y >= client.bottom) {
    ADD_FAILURE() << "no room below the rows";
    return false;
  }
  ClientToScreen(hwnd, &p);
  *screen = p;
  return true;
}

void Win32User::clickRow(int32_t list, int32_t row) {
  POINT p{};
  if (rowPoint(list, row, false, &p)) clickAt(kControls[list].window, controlWindow(list), p, 1);
}

void Win32User::doubleClickRow(int32_t list, int32_t row) {
  POINT p{};
  if (rowPoint(list, row, false, &p)) clickAt(kControls[list].window, controlWindow(list), p, 2);
}

void Win32User::clickBelowRows(int32_t list) {
  POINT p{};
  if (rowPoint(list, 0, true, &p)) clickAt(kControls[list].window, controlWindow(list), p, 1);
}

void Win32User::pressOnRow(int32_t list, int32_t row) {
  POINT p{};
  if (!rowPoint(list, row, false, &p)) return;
  activate(kControls[list].window);
  pressed_ = controlWindow(list);
  SetCursorPos(p.x, p.y);
  ScreenToClient(pressed_, &p);
  pointer_ = p;
  PostMessageW(pressed_, WM_MOUSEMOVE, 0, clientPoint(p));
  PostMessageW(pressed_, WM_LBUTTONDOWN, MK_LBUTTON, clientPoint(p));
  pump();
}

void Win32User::dragPressed(int32_t) {
  if (pressed_ == nullptr) {
    ADD_FAILURE() << "no button is down";
    return;
  }
  pointer_.x += GetSystemMetrics(SM_CXDRAG) + 2;
  PostMessageW(pressed_, WM_MOUSEMOVE, MK_LBUTTON, clientPoint(pointer_));
  pump();
}

void Win32User::releasePressed(int32_t) {
  if (pressed_ == nullptr) {
    ADD_FAILURE() << "no button is down";
    return;
  }
  PostMessageW(pressed_, WM_LBUTTONUP, 0, clientPoint(pointer_));
  pump();
  pressed_ = nullptr;
}

// The close box and Alt+F4 both come as the system command.
void Win32User::requestClose(int32_t number) {
  const HWND window = findWindow(number);
  if (window == nullptr) {
    ADD_FAILURE() << "no window " << number;
    return;
  }
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  pump();
}

// A key down and up to the control with the focus; Shift is held in the
// keyboard state for as long as the messages are handled.
void Win32User::sendKey(UINT vk, bool shift) {
  const HWND focus = GetFocus();
  if (focus == nullptr || !ours(GetAncestor(focus, GA_ROOT))) {
    ADD_FAILURE() << "no control of ours has the keyboard focus";
    return;
  }
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  BYTE held[256];
  std::copy(std::begin(keys), std::end(keys), std::begin(held));
  if (shift) held[VK_SHIFT] = held[VK_LSHIFT] = 0x80;
  SetKeyboardState(held);
  PostMessageW(focus, WM_KEYDOWN, vk, keyData(vk, false));
  pump();
  const HWND now = GetFocus() != nullptr ? GetFocus() : focus;
  PostMessageW(now, WM_KEYUP, vk, keyData(vk, true));
  pump();
  SetKeyboardState(keys);
}

void Win32User::press(Key key) {
  switch (key) {
    case Key::Tab:
      sendKey(VK_TAB, false);
      break;
    case Key::ShiftTab:
      sendKey(VK_TAB, true);
      break;
    case Key::Up:
      sendKey(VK_UP, false);
      break;
    case Key::Down:
      sendKey(VK_DOWN, false);
      break;
    case Key::Space:
      sendKey(VK_SPACE, false);
      break;
    case Key::Backspace:
      sendKey(VK_BACK, false);
      break;
    case Key::Enter:
      sendKey(VK_RETURN, false);
      break;
  }
}

// The characters as the keyboard's WM_CHAR messages bring them.
void Win32User::type(const std::string& text) {
  const HWND focus = GetFocus();
  if (focus == nullptr || !ours(GetAncestor(focus, GA_ROOT))) {
    ADD_FAILURE() << "no control of ours has the keyboard focus";
    return;
  }
  for (const char16_t ch : cp1250ToUtf16(text)) {
    PostMessageW(focus, WM_CHAR, static_cast<WPARAM>(ch), 1);
    pump();
  }
}

int32_t Win32User::focusedControl(int32_t number) {
  const HWND focus = GetFocus();
  if (focus == nullptr || GetAncestor(focus, GA_ROOT) != findWindow(number)) return -1;
  for (const ControlSpec& layout : kControls) {
    if (layout.window != number) continue;
    const HWND hwnd = controlWindow(layout.number);
    if (hwnd != nullptr && (hwnd == focus || IsChild(hwnd, focus))) return layout.number;
  }
  return -1;
}

std::vector<std::string> Win32User::items(int32_t control) {
  std::vector<std::string> texts;
  const HWND hwnd = controlWindow(control);
  if (hwnd == nullptr) return texts;
  const ControlKind kind = kControls[control].kind;
  if (kind != ControlKind::DropDown && kind != ControlKind::List) return texts;
  const bool list = kind == ControlKind::List;
  const auto count = SendMessageW(hwnd, list ? LB_GETCOUNT : CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto length = SendMessageW(hwnd, list ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    const auto got = SendMessageW(hwnd, list ? LB_GETTEXT : CB_GETLBTEXT, static_cast<WPARAM>(i),
                                  reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
    texts.push_back(utf16ToCp1250(std::u16string(text.begin(), text.end())));
  }
  return texts;
}

bool Win32User::windowShown(int32_t number) {
  const HWND window = findWindow(number);
  return window != nullptr && IsWindowVisible(window);
}
