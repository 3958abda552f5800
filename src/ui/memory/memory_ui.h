#pragma once
// The in-memory user-interface back-end, for tests: the controls live in
// memory with the same operation semantics as on screen, and events are
// scripted by the test. The real start-up, loop and dispatch run over it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/ui.h"

namespace memui {

struct Message {
  std::string title;
  std::string text;
  bool windowsDisabled;  // both windows refused input while it showed
};

// Forgets every window, control, event and message; failure switches off;
// a close of MainWindow is delivered once the scripted events are used up.
void reset();

void failStart(bool fail);           // startUi fails
void failMainWindow(bool fail);      // openMainWindow fails
void failSettingsWindow(bool fail);  // openSettingsWindow fails

// When the queue is empty, waitEvent delivers a close of MainWindow (on) or
// times out with noEvent (off). On by default, so runProgram ends.
void closeWhenIdle(bool on);
// Called at the start of every waitEvent, before the queue is looked at.
void onWait(std::function<void()> hook);

// Scripted user actions: each changes the control as the user would and
// queues the control event the control reports.
void pushEvent(const UiEvent& event);
void userClick(int32_t control);
void userType(int32_t control, const std::string& text);   // text field: replaces its text
void userChoose(int32_t control, int32_t index);           // drop-down or list: selects an item
void userClose(int32_t window);
size_t queuedEvents();

// What the user would see.
bool exists(int32_t control);
bool windowOpen(int32_t window);
std::vector<std::string> items(int32_t control);
std::string shownText(int32_t control);  // label, button or text field text
const std::vector<Message>& messages();
void clearMessages();  // forgets the boxes shown so far (long fuzzing runs)
int32_t lastWaitTimeout();
int waitCount();
bool windowsDestroyed();

}  // namespace memui
