#include "reports/scan_reader.h"

#include <array>
#include <utility>

#include "model/texts.h"
#include "text/text.h"

namespace {

// The markers are compared byte for byte with the page, which is UTF-8: the
// luck's label is matched by its UTF-8 bytes ("SZCZĘŚCIE: ", 13 bytes).
constexpr std::string_view kReportMarker = "msg-content msg-quest";
constexpr std::string_view kImageMarker = "><img src=";
constexpr std::string_view kImagePath = "gfx/quests/";
constexpr std::string_view kImageName = "/m_";
constexpr std::string_view kImageEnd = ".gif";
constexpr std::string_view kChanceLabel = "szansa powodzenia: ";
constexpr std::string_view kBold = "<b>";
constexpr std::string_view kChanceEnd = "%</b>";
constexpr std::string_view kLuckLabel = "SZCZ\xC4\x98\xC5\x9A" "CIE: ";
constexpr std::string_view kBoldEnd = "</b>";
constexpr std::string_view kItemCaption = "item-caption";
constexpr std::string_view kItemClass = "qitem_";
constexpr std::string_view kItemNameStart = ">";
constexpr std::string_view kItemNameEnd = "</span>";
constexpr std::string_view kItemSeparator = ", ";

// The next expedition's image marker is looked for from 21 bytes behind the
// current one.
constexpr int64_t kNextMarkerOffset = 21;
constexpr uint8_t kValueWindow = 10;      // image code, chance, luck
constexpr int64_t kItemWindow = 100;      // from an item caption on
constexpr uint8_t kItemNameWindow = 50;   // behind the item's ">"

static_assert(kLuckLabel.size() == 13);

// leftText (text, 1) and rightText (text, 1), as views.
std::string_view firstByte(std::string_view text) { return text.substr(0, text.empty() ? 0 : 1); }
std::string_view lastByte(std::string_view text) { return text.empty() ? text : text.substr(text.size() - 1); }

// The image markers of one report line, found in one pass: the scan's every
// search for the next marker is answered from here instead of searching the
// long line again. "><img src=" cannot overlap itself, so the occurrences
// counted one behind the other are all there are.
class ImageMarkers {
 public:
  explicit ImageMarkers(std::string_view reportLine) : line_(reportLine) {
    for (int64_t from = 1; known_ < kKept; ++known_) {
      const int64_t at = findText(line_, kImageMarker, from);
      if (at == 0) {
        complete_ = true;
        break;
      }
      at_[known_] = at;
      from = at + textLength(kImageMarker);
    }
  }

  int64_t countUpTo25() const { return known_ < kPendingSlots ? known_ : kPendingSlots; }

  // findText (suffix, "><img src=", start) for a suffix of the report line.
  int64_t find(std::string_view suffix, int64_t start) const {
    // As findText clamps: nothing in an empty text or from beyond its end;
    // a start below 1 counts as 1. An occurrence lies wholly inside the
    // suffix exactly when it begins at or behind the suffix's first byte.
    if (suffix.empty() || start > textLength(suffix)) return 0;
    if (start < 1) start = 1;
    const int64_t offset = textLength(line_) - textLength(suffix);  // bytes cut off in front
    const int64_t from = offset + start;                            // 1-based in the whole line
    for (int64_t k = 0; k < known_; ++k) {
      if (at_[k] >= from) return at_[k] - offset;
    }
    if (complete_) return 0;
    const int64_t at = findText(line_, kImageMarker, from);  // behind the ones kept
    return at == 0 ? 0 : at - offset;
  }

 private:
  // 25 expeditions and the marker that ends the stretch of the 25th.
  static constexpr int64_t kKept = kPendingSlots + 1;
  std::string_view line_;
  std::array<int64_t, kKept> at_{};
  int64_t known_ = 0;
  bool complete_ = false;
};

}  // namespace


std::string_view extractView(std::string_view text, std::string_view marker1, std::string_view marker2,
                             std::string_view terminator, uint8_t n) {
  // Without marker1 (p1 = 0) marker2 is searched from position
  // length(marker1) - 1, and without marker2 the piece begins at position
  // length(marker2): the value then comes from wherever those land.
  const int64_t p1 = findText(text, marker1, 1);
  const int64_t p2 = findText(text, marker2, p1 + textLength(marker1) - 1);
  const std::string_view piece = midView(text, p2 + textLength(marker2), n);
  // A terminator that does not end within the piece (t = 0) gives length -1,
  // that is the empty text.
  const int64_t t = findText(piece, terminator, 1);
  return midView(piece, 1, t - 1);
}

ReportReader::ReportReader(AppState& state, ScanControls controls)
    : state_(state), controls_(std::move(controls)) {}

const std::string* ReportReader::resultText() const {
  switch (result_) {
    case Result::NoReportFound:
      return &txt::NoReportFound;
    case Result::Summary:
      return &summary_;
    case Result::Unchanged:
      break;
  }
  return nullptr;
}

void ReportReader::feedLine(std::string_view line) {
  if (findText(line, kReportMarker, 1) > 0) {
    readState_ = ReadState::ReportRead;
    readExpeditions(line);
    // Nothing of the report line is left for the caption test below: with
    // at least one expedition the cutting has left only the line's last
    // three bytes, too few for a caption; expeditions beyond the 25 slots
    // are left out with their captions; and with none there is no slot.
    return;
  }
  if (readState_ == ReadState::NoReportYet) {
    // Only the last label set counts: each line sets the same text.
    result_ = Result::NoReportFound;
    return;
  }
  // Captions on the lines behind the report line belong to its last
  // expedition. With no expedition pending there is no slot for them, and
  // they are ignored.
  if (readState_ == ReadState::ReportRead && state_.pendingCount > 0 && findText(line, kItemCaption, 1) > 0) {
    gatherItems(line, state_.PendingTable[state_.pendingCount - 1]);
  }
}

void ReportReader::readExpeditions(std::string_view reportLine) {
  // Reports of more than 25 expeditions fill the 25 slots; the rest are
  // left out, of the slots, of pendingCount and of the summary. So only
  // whether the count reaches 25 matters beyond 25.
  const ImageMarkers markers(reportLine);
  const int64_t filled = markers.countUpTo25();
  state_.pendingCount = static_cast<uint8_t>(filled);

  std::string_view line = reportLine;
  for (int64_t j = 0; j < filled; ++j) {
    // `line` is always a suffix of the report line, as if cut with
    // midTextToEnd, and `chunk` a stretch of it: views, never copies.
    const int64_t start = markers.find(line, 1);
    int64_t next = markers.find(line, start + kNextMarkerOffset);
    if (next == 0) next = textLength(line) - 1;
    // From start through next + 1: this expedition and the first two bytes
    // of the following marker; for the last one, the rest of the line.
    const std::string_view chunk = midView(line, start, next - start + 2);

    const std::string_view imageCode = extractView(chunk, kImagePath, kImageName, kImageEnd, kValueWindow);
    const std::string_view statText = firstByte(imageCode);
    const std::string_view successText = lastByte(imageCode);
    const std::string_view chanceText = extractView(chunk, kChanceLabel, kBold, kChanceEnd, kValueWindow);
    std::string_view luckText = extractView(chunk, kLuckLabel, kBold, kBoldEnd, kValueWindow);
    if (luckText.empty()) luckText = controls_.luckField;

    // Every number keeps its low 8 bits.
    PendingExpedition& slot = state_.PendingTable[static_cast<size_t>(j)];
    slot.luck = static_cast<uint8_t>(parseInteger(luckText));
    slot.zone = controls_.zone;
    slot.chance = static_cast<uint8_t>(parseInteger(chanceText));
    slot.kind = controls_.kind;
    const int64_t stat = parseInteger(statText);
    slot.stat = static_cast<uint8_t>(stat);
    const int64_t success = parseInteger(successText);
    slot.success = static_cast<uint8_t>(success);
    gatherItems(chunk, slot);

    // Each expedition's summary replaces the one before, so only the last
    // one of the line is ever seen.
    if (j == filled - 1) {
      // One byte reads as 0 to 9, always a slot of StatNames (9 is empty).
      const std::string& statName = state_.StatNames[static_cast<size_t>(stat)];
      summary_ = txt::SummaryRead;
      summary_ += formatInteger(filled);
      summary_ += txt::SummaryStat;
      summary_ += statName;
      summary_ += txt::SummaryChance;
      summary_ += chanceText;
      summary_ += txt::SummaryLuck;
      summary_ += luckText;
      summary_ += txt::SummarySuccess;
      summary_ += yesNoText(success);
      result_ = Result::Summary;
    }

    // The line now begins one byte before the following marker.
    line = midViewToEnd(line, next - 1);
  }
}

void ReportReader::gatherItems(std::string_view text, PendingExpedition& slot) {
  // "item-caption" cannot overlap itself, so walking from one caption to
  // the next visits exactly the captions that countText counts.
  for (int64_t at = findText(text, kItemCaption, 1); at > 0; at = findText(text, kItemCaption, at + 1)) {
    readState_ = ReadState::CaptionRead;
    const std::string_view piece = midView(text, at, kItemWindow);
    slot.items += extractView(piece, kItemClass, kItemNameStart, kItemNameEnd, kItemNameWindow);
    slot.items += kItemSeparator;
  }
}

void tidyPendingItems(AppState& state) {
  for (int k = 0; k < state.pendingCount; ++k) {
    std::string& items = state.PendingTable[static_cast<size_t>(k)].items;
    if (items.empty()) continue;
    items = replaceText(leftText(items, textLength(items) - 2), "  ", " ");
  }
}

std::string extractBetween(std::string_view text, std::string_view marker1, std::string_view marker2,
                           std::string_view terminator, uint8_t n) {
  return std::string(extractView(text, marker1, marker2, terminator, n));
}

const std::string& yesNoText(int64_t flag) { return (flag & 0xff) == 1 ? txt::Yes : txt::No; }
