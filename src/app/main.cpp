#include "app/app.h"

int main() {
  static AppState state;
  return runProgram(state);
}
