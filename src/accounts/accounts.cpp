#include "accounts/accounts.h"

// Filled in by the accounts work; the dispatch table already calls these.
void loadAccounts(AppState&) {}
void saveAccounts(AppState&) {}
void selectAccount(AppState&, int32_t) {}
void addAccount(AppState&) {}
void deleteAccount(AppState&) {}
void storeZone(AppState&) {}
void storeLuck(AppState&) {}
void storeKind(AppState&) {}
