#pragma once
// The expedition database: one file per account, only ever appended to.
#include "model/state.h"

void appendPendingExpeditions(AppState& state);
