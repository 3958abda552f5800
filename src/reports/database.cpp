#include "reports/database.h"

void appendPendingExpeditions(AppState&) {}
