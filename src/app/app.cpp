#include "app/app.h"

#include "accounts/accounts.h"
#include "model/texts.h"
#include "model/ui.h"
#include "reports/database.h"
#include "reports/download.h"
#include "reports/report_scan.h"
#include "text/line_file.h"

namespace {
constexpr int32_t kWaitMs = 100;
}

void fillChoiceLists() {
  for (const std::string& zone : txt::ZoneItems) appendItem(ZoneCombo, zone);
  selectIndex(ZoneCombo, 3);
  for (const std::string& kind : txt::KindItems) appendItem(KindCombo, kind);
  selectIndex(KindCombo, 0);
}

bool startUp(AppState& state) {
  initState(state);
  if (!startUi() || !openMainWindow()) {
    showMessage(txt::FatalTitle, txt::FatalText);
    return false;
  }
  openSettingsWindow();
  startNetwork();
  fillChoiceLists();
  loadAccounts(state);
  selectAccount(state, 0);
  return true;
}

void dispatchControlEvent(AppState& state, int32_t control) {
  switch (control) {
    case AccountCombo:
      selectAccount(state, selectedIndex(AccountCombo));
      break;
    case ZoneCombo:
      storeZone(state);
      break;
    case LuckField:
      storeLuck(state);
      break;
    case KindCombo:
      storeKind(state);
      break;
    case CheckButton:
      checkReport(state);
      saveAccounts(state);
      break;
    case AppendButton:
      appendPendingExpeditions(state);
      break;
    case AccountList:
      if (selectedIndex(AccountList) >= 0) selectAccount(state, selectedIndex(AccountList));
      break;
    case DeleteButton:
      if (selectedIndex(AccountList) >= 0) {
        deleteAccount(state);
        saveAccounts(state);
      }
      break;
    case AddButton:
      if (!controlText(NewAccountField).empty()) {
        addAccount(state);
        saveAccounts(state);
      }
      break;
    default:
      break;
  }
}

void runEventLoop(AppState& state) {
  for (;;) {
    const UiEvent event = waitEvent(kWaitMs);
    if (event.kind == EventKind::controlEvent) {
      dispatchControlEvent(state, event.control);
    } else if (event.kind == EventKind::closeEvent && event.window == MainWindow) {
      return;
    }
  }
}

void shutDown(AppState& state, bool startedFully) {
  if (startedFully) saveAccounts(state);
  stopNetwork();
  destroyWindows();
  closeAllFiles();
}

int runProgram(AppState& state) {
  const bool started = startUp(state);
  if (started) runEventLoop(state);
  shutDown(state, started);
  return 0;
}
