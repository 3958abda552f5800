#pragma once
// The reading half of the check: the lines of the downloaded page go in one
// at a time, the pending expeditions and the result text come out. Kept apart
// from the download so that it can be fed from a file, from memory (tests,
// fuzzing, benchmarks) or line by line.
//
// The report line can be megabytes long, so nothing here copies it: the
// line, each expedition's stretch of it and every value are views into the
// line as it was read, cut with the same 1-based rules as the text
// operations of text/text.h.
#include <cstdint>
#include <string>
#include <string_view>

#include "model/state.h"

// What the scan reads of the main window. Taken once per check: the check
// runs to its end before any other event, so these cannot change meanwhile.
struct ScanControls {
  uint8_t zone = 0;  // ZoneCombo's selected index, low 8 bits (no selection: 255)
  uint8_t kind = 0;  // KindCombo's selected index, low 8 bits
  std::string luckField;  // LuckField's text, used when the page gives no luck
};


// The bytes of `text` between marker2 (searched from the last byte of
// marker1 on) and the terminator, looked for only within the n bytes behind
// marker2. A view into `text`.
std::string_view extractView(std::string_view text, std::string_view marker1, std::string_view marker2,
                             std::string_view terminator, uint8_t n);

// How far the reading of a page has come; it only moves forward.
enum class ReadState : uint8_t {
  NoReportYet = 0,  // no report line read yet
  ReportRead = 1,   // a report line read, no item caption yet
  CaptionRead = 2,  // an item caption read: the reading stops behind this line
};

class ReportReader {
 public:
  // Fills state.PendingTable and state.pendingCount; the caller has reset them.
  ReportReader(AppState& state, ScanControls controls);

  // One line of the page, without its line end.
  void feedLine(std::string_view line);
  // The reading stops behind the line in which the first item caption was
  // gathered.
  bool finished() const { return readState_ == ReadState::CaptionRead; }
  ReadState readState() const { return readState_; }

  // The text the reading leaves in ResultLabel, or nullptr when it leaves
  // the label as it was.
  const std::string* resultText() const;

 private:
  void readExpeditions(std::string_view reportLine);
  void gatherItems(std::string_view text, PendingExpedition& slot);

  enum class Result { Unchanged, NoReportFound, Summary };

  AppState& state_;
  ScanControls controls_;
  ReadState readState_ = ReadState::NoReportYet;
  Result result_ = Result::Unchanged;
  std::string summary_;
};

// Drops the final ", " of every filled slot's items and turns each pair of
// blanks into one (a single pass: three blanks become two).
void tidyPendingItems(AppState& state);

// extractView as a text of its own.
std::string extractBetween(std::string_view text, std::string_view marker1, std::string_view marker2,
                           std::string_view terminator, uint8_t n);
// "tak" when the low 8 bits of flag are 1, else "nie".
const std::string& yesNoText(int64_t flag);
