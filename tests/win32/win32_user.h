#pragma once
// A user at the Win32 back-end's real windows and controls: mouse and key
// messages are posted to the control under the pointer or with the focus, as
// the system posts them for real input, and go through the program's message
// handling (the dialog manager included) on their way to the system's own
// controls. The window the user turns to is brought to the foreground first.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

#include "ui_contract/ui_contract.h"

// This thread's window with the number's title: another program's windows on
// the same desktop are not ours.
HWND findWindow(int32_t number);
// The window's controls in creation order (the children's Z order).
std::vector<HWND> childrenOf(HWND window);
HWND controlWindow(int32_t control);

class Win32User : public UserDriver {
 public:
  bool open() override;
  void close() override;
  int32_t quietMs() const override { return 50; }

  void click(int32_t control) override;
  void clickRow(int32_t list, int32_t row) override;
  void doubleClickRow(int32_t list, int32_t row) override;
  void clickBelowRows(int32_t list) override;
  void pressOnRow(int32_t list, int32_t row) override;
  void dragPressed(int32_t list) override;
  void releasePressed(int32_t list) override;
  void requestClose(int32_t window) override;
  void press(Key key) override;
  void type(const std::string& text) override;
  int32_t focusedControl(int32_t window) override;
  std::vector<std::string> items(int32_t control) override;
  bool windowShown(int32_t window) override;

 private:
  void activate(int32_t window);
  // A press and release of the left button at a screen point, on the window
  // that the hit test picks there; count 2 makes it a double click.
  void clickAt(int32_t window, HWND control, POINT screen, int count);
  bool rowPoint(int32_t list, int32_t row, bool below, POINT* screen);
  void sendKey(UINT vk, bool shift);

  HWND pressed_ = nullptr;  // the control of pressOnRow, while the button is down
  POINT pointer_{};         // its client coordinates now
};
