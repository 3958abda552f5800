#include "model/state.h"

#include "model/texts.h"

void initState(AppState& state) {
  state = AppState{};
  for (int i = 0; i < 9; ++i) state.StatNames[i] = txt::StatNames[i];
}
