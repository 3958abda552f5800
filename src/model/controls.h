#pragma once
// The fixed layout of both windows: what every back-end builds.
#include <cstdint>
#include <string>

enum class ControlKind { Label, DropDown, TextField, PushButton, List };

struct WindowSpec {
  int32_t number;
  const std::string* title;  // Windows-1250
  int32_t clientWidth;
  int32_t clientHeight;
  bool centred;       // MainWindow: centred on the primary screen
  int32_t outerLeft;  // SettingsWindow: outer top-left corner on the screen
  int32_t outerTop;
};

struct ControlSpec {
  int32_t number;
  const char* name;
  int32_t window;
  ControlKind kind;
  int32_t x, y, width, height;
  const std::string* firstText;  // Windows-1250; empty for lists
};

extern const WindowSpec kWindows[2];
extern const ControlSpec kControls[20];

// Tab order within each window: the focusable controls in number order.
bool controlTakesFocus(ControlKind kind);

// The opened list of a drop-down reaches this far below the control's top.
constexpr int32_t kDropDownListReach = 350;
