#pragma once
// Start-up, the event loop with its dispatch table, and shut-down.
#include <cstdint>

#include "model/state.h"

// The whole run: start-up, loop, shut-down. Always 0, the exit code.
int runProgram(AppState& state);

// Start-up steps 1 to 9. False when MainWindow could not be opened (the
// message has been shown then).
bool startUp(AppState& state);
// Runs until a close event of MainWindow.
void runEventLoop(AppState& state);
// One control event, looked up in the dispatch table.
void dispatchControlEvent(AppState& state, int32_t control);
// startedFully is false after a failed start-up: the accounts were never
// loaded, so they are not saved over konta.txt.
void shutDown(AppState& state, bool startedFully);

void fillChoiceLists();
