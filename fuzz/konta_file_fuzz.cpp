// konta.txt through the program's real load and save on real files in a
// temporary folder: the checks of konta_check.h, with the platform's file
// calls beneath LineFile. Slow (a few hundred inputs a second); konta_fuzz
// makes the same checks in memory.
//
//   build/fuzz/konta_file_fuzz -max_len=1024 <scratch folder> fuzz/corpus/konta_file_fuzz
// (libFuzzer adds what it finds to the first folder, so the seeds stay as they are).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "konta_check.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace {

struct DiskKonta {
  const TempCwd& dir;
  void write(const std::string& bytes) const { dir.write("konta.txt", bytes); }
  std::string read() const { return dir.read("konta.txt"); }
  bool settled() const { return !dir.has("konta.txt.tmp"); }
};

// One folder for all inputs, made on first use and removed at exit. It is the
// working directory only while an input is loaded and saved.
const std::filesystem::path& startDir() {
  static const std::filesystem::path start = std::filesystem::current_path();
  return start;
}

const TempCwd& workDir() {
  static const TempCwd dir = [] {
    startDir();
    return TempCwd();
  }();
  return dir;
}

struct InWorkDir {
  InWorkDir() { std::filesystem::current_path(workDir().path()); }
  ~InWorkDir() { std::filesystem::current_path(startDir()); }
  InWorkDir(const InWorkDir&) = delete;
  InWorkDir& operator=(const InWorkDir&) = delete;
};

}  // namespace

// The loader works in the working directory, which each input changes for a
// while; libFuzzer reads its inputs and writes what it finds relative to the
// directory it started in, so that one is made absolute here.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<std::string> added;
  static std::vector<char*> arguments;
  for (int i = 0; i < *argc; ++i) {
    std::string argument = (*argv)[i];
    if (i > 0 && !argument.empty() && argument[0] != '-') argument = std::filesystem::absolute(argument).string();
    added.push_back(argument);
  }
  bool prefixed = false;
  for (const std::string& argument : added) prefixed = prefixed || argument.rfind("-artifact_prefix=", 0) == 0;
  if (!prefixed) added.push_back("-artifact_prefix=" + (std::filesystem::current_path() / "").string());
  for (std::string& argument : added) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  *argc = static_cast<int>(added.size());
  *argv = arguments.data();
  // Waiting for the disk at every save is of no use here and would cost most
  // of the time.
  platform::fsCalls().flush = [](platform::FileHandle) { return true; };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const InWorkDir in;
  kontacheck::checkInput(DiskKonta{workDir()}, std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
