#pragma once
// A second, deliberately plain reading of report pages for the tests, the
// fuzz target and the benchmark: every step written with the copying text
// operations of text/text.h exactly as the scan is described, one text per
// working value. The program's reader (reports/scan_reader.h) works on views
// and must agree with this one on every page.
//
// It also holds the two helpers that feed a page held in memory: the lines
// as readLine gives them, and the program's reader run over those lines.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/state.h"
#include "model/texts.h"
#include "reports/report_scan.h"
#include "reports/scan_reader.h"
#include "text/text.h"

namespace scanref {

// The lines of a page as readLine gives them: CR LF, a lone LF, a lone CR and
// a NUL byte each end a line; a last line without a line end counts; a page
// ending in a line end has no empty line behind it.
//
// Each kind of line end is looked for with memchr, from the last one found
// on, so the page is gone over once per kind however its lines run: this is
// also the fuzz targets' splitter, and a byte-by-byte loop there costs more
// than the reading it serves.
inline std::vector<std::string_view> pageLines(std::string_view page) {
  const auto find = [page](char ending, size_t from) {
    if (from >= page.size()) return page.size();
    const void* at = std::memchr(page.data() + from, ending, page.size() - from);
    return at ? static_cast<size_t>(static_cast<const char*>(at) - page.data()) : page.size();
  };
  constexpr char kEnds[] = {'\0', '\n', '\r'};
  size_t next[] = {find(kEnds[0], 0), find(kEnds[1], 0), find(kEnds[2], 0)};  // each at or behind i
  std::vector<std::string_view> lines;
  size_t i = 0;
  while (i < page.size()) {
    size_t end = page.size();
    for (size_t k = 0; k < 3; ++k) {
      if (next[k] < i) next[k] = find(kEnds[k], i);
      end = std::min(end, next[k]);
    }
    lines.push_back(page.substr(i, end - i));
    if (end < page.size() && page[end] == '\r' && end + 1 < page.size() && page[end + 1] == '\n') {
      i = end + 2;
    } else {
      i = end + 1;
    }
  }
  return lines;
}

struct Outcome {
  std::array<PendingExpedition, kPendingSlots> slots{};
  uint8_t pendingCount = 0;
  std::optional<std::string> label;  // the last text set during the reading
  uint8_t readState = 0;
  size_t linesRead = 0;
};

inline std::string extractBetween(const std::string& text, const std::string& marker1, const std::string& marker2,
                                  const std::string& terminator, uint8_t n) {
  const int64_t p1 = findText(text, marker1, 1);
  const int64_t p2 = findText(text, marker2, p1 + textLength(marker1) - 1);
  const std::string piece = midText(text, p2 + textLength(marker2), n);
  const int64_t t = findText(piece, terminator, 1);
  return midText(piece, 1, t - 1);
}

inline void gatherItems(const std::string& text, PendingExpedition& slot, uint8_t& readState) {
  const int64_t captions = countText(text, "item-caption");
  int64_t position = 0;
  for (int64_t k = 0; k < captions; ++k) {
    readState = 2;
    position = findText(text, "item-caption", position + 1);
    const std::string itemPiece = midText(text, position, 100);
    const std::string itemName = extractBetween(itemPiece, "qitem_", ">", "</span>", 50);
    slot.items = slot.items + itemName + ", ";
  }
}

// Steps 8 and 10 of the check over the lines of `page`, starting from a
// reset table. With the program's own rules where the plain steps leave a
// gap: at most 25 expeditions (the rest of the report line is dropped), and
// no slot for captions while nothing is pending.
inline Outcome readPage(std::string_view page, const ScanControls& controls,
                        const std::array<std::string, kStatSlots>& statNames) {
  Outcome out;
  const std::string imageMarker = "><img src=";
  const std::string luckLabel = "SZCZ\xC4\x98\xC5\x9A" "CIE: ";
  for (std::string_view lineView : pageLines(page)) {
    if (out.readState >= 2) break;
    ++out.linesRead;
    std::string line(lineView);
    if (findText(line, "msg-content msg-quest", 1) > 0) {
      out.readState = 1;
      const int64_t count = countText(line, imageMarker);
      const int64_t filled = std::min<int64_t>(count, kPendingSlots);
      out.pendingCount = static_cast<uint8_t>(filled);
      for (int64_t j = 0; j < filled; ++j) {
        const int64_t start = findText(line, imageMarker, 1);
        int64_t next = findText(line, imageMarker, start + 21);
        if (next == 0) next = textLength(line) - 1;
        const std::string chunk = midText(line, start, next - start + 2);
        const std::string imageCode = extractBetween(chunk, "gfx/quests/", "/m_", ".gif", 10);
        const std::string successText = rightText(imageCode, 1);
        const std::string statText = leftText(imageCode, 1);
        const std::string chanceText = extractBetween(chunk, "szansa powodzenia: ", "<b>", "%</b>", 10);
        std::string luckText = extractBetween(chunk, luckLabel, "<b>", "</b>", 10);
        if (textLength(luckText) == 0) luckText = controls.luckField;
        PendingExpedition& slot = out.slots[static_cast<size_t>(j)];
        slot.luck = static_cast<uint8_t>(parseInteger(luckText));
        slot.zone = controls.zone;
        slot.chance = static_cast<uint8_t>(parseInteger(chanceText));
        slot.kind = controls.kind;
        slot.stat = static_cast<uint8_t>(parseInteger(statText));
        slot.success = static_cast<uint8_t>(parseInteger(successText));
        gatherItems(chunk, slot, out.readState);
        out.label = txt::SummaryRead + formatInteger(filled) + txt::SummaryStat +
                    statNames.at(static_cast<size_t>(parseInteger(statText))) + txt::SummaryChance + chanceText +
                    txt::SummaryLuck + luckText + txt::SummarySuccess + yesNoText(parseInteger(successText));
        line = midTextToEnd(line, next - 1);
      }
      if (count > filled) line.clear();
    } else if (out.readState == 0) {
      out.label = txt::NoReportFound;
    }
    if (findText(line, "item-caption", 1) > 0 && out.readState == 1 && out.pendingCount > 0) {
      gatherItems(line, out.slots[out.pendingCount - 1u], out.readState);
    }
  }
  for (int k = 0; k < out.pendingCount; ++k) {
    std::string& items = out.slots[static_cast<size_t>(k)].items;
    if (textLength(items) > 0) items = replaceText(leftText(items, textLength(items) - 2), "  ", " ");
  }
  return out;
}

// The program's reader over a page in memory, the table reset first, the
// items tidied last: what scanReportFile does with temp.html.
inline Outcome readPageWithProgram(std::string_view page, const ScanControls& controls, AppState& state) {
  for (PendingExpedition& slot : state.PendingTable) slot = PendingExpedition{};
  state.pendingCount = 0;
  Outcome out;
  ReportReader reader(state, controls);
  for (std::string_view line : pageLines(page)) {
    if (reader.finished()) break;
    ++out.linesRead;
    reader.feedLine(line);
  }
  tidyPendingItems(state);
  out.slots = state.PendingTable;
  out.pendingCount = state.pendingCount;
  if (const std::string* text = reader.resultText()) out.label = *text;
  out.readState = static_cast<uint8_t>(reader.readState());  // the numbers the plain reading uses
  return out;
}

inline bool sameSlot(const PendingExpedition& a, const PendingExpedition& b) {
  return a.zone == b.zone && a.luck == b.luck && a.chance == b.chance && a.kind == b.kind && a.stat == b.stat &&
         a.success == b.success && a.items == b.items;
}

inline bool sameOutcome(const Outcome& a, const Outcome& b) {
  if (a.pendingCount != b.pendingCount || a.label != b.label || a.readState != b.readState ||
      a.linesRead != b.linesRead) {
    return false;
  }
  for (size_t k = 0; k < a.slots.size(); ++k) {
    if (!sameSlot(a.slots[k], b.slots[k])) return false;
  }
  return true;
}

}  // namespace scanref
