// The control contract on the in-memory back-end, the one that every scenario
// test runs on. Its user is scripted: it keeps the keyboard focus of each
// window and reports what the system controls report for each action.
#include <gtest/gtest.h>

#include <algorithm>

#include "model/controls.h"
#include "ui/memory/memory_ui.h"
#include "ui_contract/ui_contract.h"

namespace {

class MemoryUser : public UserDriver {
 public:
  bool open() override {
    memui::reset();
    memui::closeWhenIdle(false);
    if (!startUi() || !openMainWindow()) return false;
    openSettingsWindow();
    active_ = SettingsWindow;  // opened last, so in front
    return true;
  }
  void close() override {
    destroyWindows();
    memui::reset();
  }
  int32_t quietMs() const override { return 0; }

  void click(int32_t control) override {
    activate(kControls[control].window);
    switch (kControls[control].kind) {
      case ControlKind::Label:
        break;
      case ControlKind::PushButton:
        moveFocus(control);
        memui::userClick(control);
        break;
      case ControlKind::TextField:
        moveFocus(control);
        break;
      case ControlKind::DropDown:
      case ControlKind::List:
        ADD_FAILURE() << "click() is for buttons, text fields and labels";
        break;
    }
  }
  void clickRow(int32_t list, int32_t row) override {
    activate(kControls[list].window);
    moveFocus(list);
    memui::userChoose(list, row);  // the selection (if it changed) and the release on the item
  }
  void doubleClickRow(int32_t list, int32_t row) override {
    clickRow(list, row);
    memui::userClick(list);  // the double click itself
  }
  void clickBelowRows(int32_t list) override {
    activate(kControls[list].window);
    moveFocus(list);
  }
  void pressOnRow(int32_t list, int32_t row) override {
    activate(kControls[list].window);
    moveFocus(list);
    if (selectedIndex(list) != row) memui::userChoose(list, row);
    dragStarted_ = false;
  }
  void dragPressed(int32_t list) override {
    if (!dragStarted_) memui::userClick(list);
    dragStarted_ = true;
  }
  void releasePressed(int32_t list) override { memui::userClick(list); }
  void requestClose(int32_t window) override { memui::userClose(window); }

  void press(Key key) override {
    if (active_ < 0) return;
    const int32_t control = focus_[active_];
    switch (key) {
      case Key::Tab:
      case Key::ShiftTab:
        moveFocus(nextInTabOrder(control, key == Key::Tab ? 1 : -1));
        break;
      case Key::Up:
      case Key::Down:
        if (control >= 0 && hasItems(control)) {
          const auto count = static_cast<int32_t>(memui::items(control).size());
          const int32_t from = selectedIndex(control);
          const int32_t to = std::clamp(from + (key == Key::Down ? 1 : -1), 0, count - 1);
          if (count > 0 && to != from) memui::userChoose(control, to);
        }
        break;
      case Key::Space:
        if (control >= 0 && kControls[control].kind == ControlKind::PushButton) memui::userClick(control);
        break;
      case Key::Backspace:
        if (control >= 0 && kControls[control].kind == ControlKind::TextField) {
          std::string text = controlText(control);
          if (!text.empty()) {
            text.pop_back();
            memui::userType(control, text);
          }
        }
        break;
      case Key::Enter:
        break;
    }
  }
  void type(const std::string& text) override {
    if (active_ < 0) return;
    const int32_t control = focus_[active_];
    if (control < 0 || kControls[control].kind != ControlKind::TextField) return;
    for (const char ch : text) memui::userType(control, controlText(control) + ch);
  }

  int32_t focusedControl(int32_t window) override { return window == 0 || window == 1 ? focus_[window] : -1; }
  std::vector<std::string> items(int32_t control) override { return memui::items(control); }
  bool windowShown(int32_t window) override { return memui::windowOpen(window); }

 private:
  static bool hasItems(int32_t control) {
    return kControls[control].kind == ControlKind::DropDown || kControls[control].kind == ControlKind::List;
  }
  // Drop-downs and text fields report gaining and losing the focus; lists
  // and buttons do not.
  static bool reportsFocus(int32_t control) {
    return control >= 0 && (kControls[control].kind == ControlKind::DropDown ||
                            kControls[control].kind == ControlKind::TextField);
  }
  void focusEvent(int32_t control) {
    if (reportsFocus(control))
      memui::pushEvent({EventKind::controlEvent, kControls[control].window, control});
  }
  // The window the user turns to takes the keyboard, with the control that
  // had the focus in it; the other window's control loses it.
  void activate(int32_t window) {
    if (active_ == window) return;
    if (active_ >= 0) focusEvent(focus_[active_]);
    active_ = window;
    focusEvent(focus_[active_]);
  }
  void moveFocus(int32_t control) {
    if (control < 0 || focus_[active_] == control) return;
    focusEvent(focus_[active_]);
    focus_[active_] = control;
    focusEvent(control);
  }
  int32_t nextInTabOrder(int32_t from, int32_t step) const {
    std::vector<int32_t> ring;
    for (const ControlSpec& c : kControls)
      if (c.window == active_ && controlTakesFocus(c.kind)) ring.push_back(c.number);
    const auto n = static_cast<int32_t>(ring.size());
    const auto at = static_cast<int32_t>(std::find(ring.begin(), ring.end(), from) - ring.begin());
    if (at == n) return step > 0 ? ring.front() : ring.back();
    return ring[static_cast<size_t>((at + step + n) % n)];
  }

  int32_t active_ = -1;
  int32_t focus_[2] = {-1, -1};
  bool dragStarted_ = false;
};

using MemoryUiContract = UiContract<MemoryUser>;
TEST_P(MemoryUiContract, Holds) { GetParam().run(user_); }
INSTANTIATE_TEST_SUITE_P(Memory, MemoryUiContract, testing::ValuesIn(uiContractCases()), uiContractCaseName);

}  // namespace
