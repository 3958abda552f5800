#include <deque>

#include "model/controls.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"

namespace {

struct Control {
  bool exists = false;
  std::string text;
  std::vector<std::string> items;
  int32_t selected = -1;
};

struct Backend {
  bool failStart = false;
  bool failMain = false;
  bool failSettings = false;
  bool closeWhenIdle = true;
  bool windowOpen[2] = {false, false};
  bool destroyed = false;
  Control controls[kControlCount];
  std::deque<UiEvent> queue;
  std::vector<memui::Message> messages;
  std::function<void()> onWait;
  int32_t lastTimeout = -1;
  int waits = 0;
};

Backend& backend() {
  static Backend b;
  return b;
}

Control* find(int32_t control) {
  if (control < 0 || control >= kControlCount) return nullptr;
  Control& c = backend().controls[control];
  return c.exists ? &c : nullptr;
}

ControlKind kindOf(int32_t control) { return kControls[control].kind; }

bool hasItems(int32_t control) {
  return kindOf(control) == ControlKind::DropDown || kindOf(control) == ControlKind::List;
}

void createControls(int32_t window) {
  for (const ControlSpec& layout : kControls) {
    if (layout.window != window) continue;
    Control& c = backend().controls[layout.number];
    c = Control{};
    c.exists = true;
    c.text = *layout.firstText;
  }
}

}  // namespace

bool startUi() { return !backend().failStart; }

void destroyWindows() {
  Backend& b = backend();
  for (Control& c : b.controls) c = Control{};
  b.windowOpen[0] = b.windowOpen[1] = false;
  b.destroyed = true;
}

bool openMainWindow() {
  if (backend().failMain) return false;
  backend().windowOpen[MainWindow] = true;
  createControls(MainWindow);
  return true;
}

void openSettingsWindow() {
  if (backend().failSettings) return;
  backend().windowOpen[SettingsWindow] = true;
  createControls(SettingsWindow);
}

UiEvent waitEvent(int32_t timeoutMs) {
  Backend& b = backend();
  b.lastTimeout = timeoutMs;
  ++b.waits;
  if (b.onWait) b.onWait();
  if (!b.queue.empty()) {
    const UiEvent event = b.queue.front();
    b.queue.pop_front();
    return event;
  }
  if (b.closeWhenIdle) return UiEvent{EventKind::closeEvent, MainWindow, -1};
  return UiEvent{};
}

int32_t selectedIndex(int32_t control) {
  const Control* c = find(control);
  if (c == nullptr) return 0;
  return hasItems(control) ? c->selected : -1;
}

void selectIndex(int32_t control, int32_t index) {
  Control* c = find(control);
  if (c == nullptr || !hasItems(control)) return;
  c->selected = (index >= 0 && index < static_cast<int32_t>(c->items.size())) ? index : -1;
}

std::string controlText(int32_t control) {
  const Control* c = find(control);
  if (c == nullptr) return {};
  if (hasItems(control)) return c->selected >= 0 ? c->items[static_cast<size_t>(c->selected)] : std::string();
  return c->text;
}

void setControlText(int32_t control, const std::string& text) {
  Control* c = find(control);
  if (c == nullptr || hasItems(control)) return;
  c->text = text;
}

void appendItem(int32_t control, const std::string& text) {
  Control* c = find(control);
  if (c == nullptr || !hasItems(control)) return;
  c->items.push_back(text);
}

void removeItem(int32_t control, int32_t index) {
  Control* c = find(control);
  if (c == nullptr || !hasItems(control)) return;
  if (index < 0 || index >= static_cast<int32_t>(c->items.size())) return;
  c->items.erase(c->items.begin() + index);
  // As the system lists do: the selection stays with its item.
  if (c->selected == index) {
    c->selected = -1;
  } else if (c->selected > index) {
    --c->selected;
  }
}

void showMessage(const std::string& title, const std::string& text) {
  Backend& b = backend();
  b.messages.push_back({title, text, b.windowOpen[0] || b.windowOpen[1]});
}

namespace memui {

void reset() { backend() = Backend{}; }
void failStart(bool fail) { backend().failStart = fail; }
void failMainWindow(bool fail) { backend().failMain = fail; }
void failSettingsWindow(bool fail) { backend().failSettings = fail; }
void closeWhenIdle(bool on) { backend().closeWhenIdle = on; }
void onWait(std::function<void()> hook) { backend().onWait = std::move(hook); }

void pushEvent(const UiEvent& event) { backend().queue.push_back(event); }

void userClick(int32_t control) {
  if (control >= 0 && control < kControlCount)
    pushEvent({EventKind::controlEvent, kControls[control].window, control});
}

void userType(int32_t control, const std::string& text) {
  if (Control* c = find(control)) c->text = text;
  userClick(control);
}

void userChoose(int32_t control, int32_t index) {
  selectIndex(control, index);
  userClick(control);
}

void userClose(int32_t window) { pushEvent({EventKind::closeEvent, window, -1}); }
size_t queuedEvents() { return backend().queue.size(); }

bool exists(int32_t control) { return find(control) != nullptr; }
bool windowOpen(int32_t window) { return window >= 0 && window < 2 && backend().windowOpen[window]; }

std::vector<std::string> items(int32_t control) {
  const Control* c = find(control);
  return c != nullptr ? c->items : std::vector<std::string>{};
}

std::string shownText(int32_t control) {
  const Control* c = find(control);
  return c != nullptr ? c->text : std::string();
}

const std::vector<Message>& messages() { return backend().messages; }
void clearMessages() { backend().messages.clear(); }
int32_t lastWaitTimeout() { return backend().lastTimeout; }
int waitCount() { return backend().waits; }
bool windowsDestroyed() { return backend().destroyed; }

}  // namespace memui
