#include <gtest/gtest.h>

#include "model/controls.h"
#include "model/ui.h"

// The layout table is read by every back-end: numbers must match positions.
TEST(ControlTable, NumbersMatchSlotsAndWindows) {
  for (int32_t i = 0; i < kControlCount; ++i) {
    EXPECT_EQ(kControls[i].number, i);
    EXPECT_EQ(kControls[i].window, i <= AppendButton ? MainWindow : SettingsWindow) << kControls[i].name;
  }
}
