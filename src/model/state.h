#pragma once
// The state shared by the whole program: the account table, the pending
// expeditions of the last check and the attribute names. The program makes
// one; each test makes its own. Widths are deliberate: counts and the numeric
// fields are 8-bit and keep the low bits of a wider value.
#include <array>
#include <cstdint>
#include <string>

struct Account {
  int32_t tag = 0;
  std::string name;
  uint8_t zone = 0;
  uint8_t luck = 0;
  uint8_t kind = 0;
};

struct PendingExpedition {
  uint8_t zone = 0;
  uint8_t luck = 0;
  uint8_t chance = 0;
  uint8_t kind = 0;
  uint8_t stat = 0;
  uint8_t success = 0;
  std::string items;
};

constexpr int kAccountSlots = 5;
constexpr int kPendingSlots = 25;
constexpr int kStatSlots = 10;

struct AppState {
  std::array<Account, kAccountSlots> AccountTable{};
  uint8_t accountCount = 0;
  uint8_t currentAccount = 0;

  std::array<PendingExpedition, kPendingSlots> PendingTable{};
  uint8_t pendingCount = 0;

  std::array<std::string, kStatSlots> StatNames{};

  // Set when konta.txt exists but could not be read at start-up: saving
  // would then replace the player's accounts with an empty list, so every
  // save of this run is refused.
  bool accountsFileUnreadable = false;
};

// Zeroes the tables and counters and fills StatNames (start-up steps 1 and 3).
void initState(AppState& state);
