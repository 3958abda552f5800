#include "reports/report_scan.h"

#include "app/texts.h"

void checkReport(AppState&) {}
std::string extractBetween(std::string_view, std::string_view, std::string_view, std::string_view, uint8_t) {
  return {};
}
const std::string& yesNoText(int64_t flag) { return (flag & 0xff) == 1 ? txt::Yes : txt::No; }
