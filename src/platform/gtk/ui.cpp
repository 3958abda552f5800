// GTK 3 back-end: to be written.
#include "app/ui.h"
bool startUi() { return false; }
void destroyWindows() {}
bool openMainWindow() { return false; }
void openSettingsWindow() {}
UiEvent waitEvent(int32_t) { return {EventKind::closeEvent, MainWindow, -1}; }
int32_t selectedIndex(int32_t) { return 0; }
void selectIndex(int32_t, int32_t) {}
std::string controlText(int32_t) { return {}; }
void setControlText(int32_t, const std::string&) {}
void appendItem(int32_t, const std::string&) {}
void removeItem(int32_t, int32_t) {}
void showMessage(const std::string&, const std::string&) {}
