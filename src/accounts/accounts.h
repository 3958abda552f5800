#pragma once
// The accounts: konta.txt, selecting, adding and deleting, and the defaults
// that follow ZoneCombo, LuckField and KindCombo.
#include <cstdint>

#include "model/state.h"

void loadAccounts(AppState& state);
void saveAccounts(AppState& state);

void selectAccount(AppState& state, int32_t index);
void addAccount(AppState& state);
void deleteAccount(AppState& state);

// The actions of ZoneCombo, LuckField and KindCombo: the current account's
// defaults follow what the control shows.
void storeZone(AppState& state);
void storeLuck(AppState& state);
void storeKind(AppState& state);
