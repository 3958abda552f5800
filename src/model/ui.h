#pragma once
// The windows, controls, events and message box, as every back-end provides
// them (win32/, gtk/, memory/). Back-ends only translate platform events into
// control and close events; every decision is made in app/. All texts are
// Windows-1250 bytes; back-ends convert at their edge.
#include <cstdint>
#include <string>

enum WindowNumber : int32_t {
  MainWindow = 0,
  SettingsWindow = 1,
};

enum ControlNumber : int32_t {
  AccountLabel = 0,
  AccountCombo = 1,
  ZoneLabel = 2,
  LuckLabel = 3,
  KindLabel = 4,
  ZoneCombo = 5,
  LuckField = 6,
  KindCombo = 7,
  LinkLabel = 8,
  LinkField = 9,
  ResultCaptionLabel = 10,
  ResultLabel = 11,
  CheckButton = 12,
  AppendButton = 13,
  AccountListLabel = 14,
  AccountList = 15,
  DeleteButton = 16,
  NewAccountLabel = 17,
  NewAccountField = 18,
  AddButton = 19,
};
constexpr int32_t kControlCount = 20;

// The event kinds keep the names the whole design uses for them.
enum class EventKind { noEvent, controlEvent, closeEvent, otherEvent };

struct UiEvent {
  EventKind kind = EventKind::noEvent;
  int32_t window = -1;
  int32_t control = -1;
};

// Platform start and end: text, windows, controls and message boxes.
bool startUi();
// Destroys both windows with their controls (shut-down).
void destroyWindows();

bool openMainWindow();
void openSettingsWindow();

// The next event of either window, or noEvent after timeoutMs.
UiEvent waitEvent(int32_t timeoutMs);

// Control operations. A number that names no existing control makes each of
// them do nothing; selectedIndex then gives 0 and controlText the empty text.
int32_t selectedIndex(int32_t control);
void selectIndex(int32_t control, int32_t index);
std::string controlText(int32_t control);
void setControlText(int32_t control, const std::string& text);
void appendItem(int32_t control, const std::string& text);
void removeItem(int32_t control, int32_t index);

// Modal box with one OK button and no icon; returns when dismissed.
void showMessage(const std::string& title, const std::string& text);
