#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
// Names are UTF-8 on every system; a narrow path on Windows would be read in
// the ANSI code page instead.
fs::path utf8Path(const std::string& name) { return fs::path(std::u8string(name.begin(), name.end())); }
}  // namespace

TempCwd::TempCwd() : previous_(fs::current_path()) {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  dir_ = fs::temp_directory_path() /
         ("wyprawy-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(dir_);
  fs::current_path(dir_);
}

TempCwd::~TempCwd() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  fs::remove_all(dir_, ignored);
}

std::string TempCwd::read(const std::string& name) const {
  std::ifstream in(dir_ / utf8Path(name), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void TempCwd::write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(dir_ / utf8Path(name), std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool TempCwd::has(const std::string& name) const { return fs::exists(dir_ / utf8Path(name)); }
