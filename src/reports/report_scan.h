#pragma once
// The check: download the report page and scan it into PendingTable.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/state.h"

void checkReport(AppState& state);

std::string extractBetween(std::string_view text, std::string_view marker1, std::string_view marker2,
                           std::string_view terminator, uint8_t n);
const std::string& yesNoText(int64_t flag);
