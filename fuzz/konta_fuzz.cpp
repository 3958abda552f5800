// konta.txt through the program's real load and save (loadAccounts,
// saveAccounts, LineFile, the replace-by-rename), over files held in memory;
// the checks are those of konta_check.h. konta_file_fuzz runs the same checks
// on real files, more slowly.
//
//   build/fuzz/konta_fuzz -max_len=1024 <scratch folder> fuzz/corpus/konta_fuzz
// (libFuzzer adds what it finds to the first folder, so the seeds stay as they are).
#include <cstddef>
#include <cstdint>
#include <string>

#include "konta_check.h"
#include "support/memory_fs.h"

namespace {

struct MemoryKonta {
  MemoryFs& fs;
  std::string path() const { return fs.directory() + "konta.txt"; }
  void write(const std::string& bytes) const { fs.put(path(), bytes); }
  std::string read() const { return fs.get(path()); }
  bool settled() const { return fs.openCount() == 0 && !fs.has(path() + ".tmp"); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFs* fs = new MemoryFs();  // the whole run, never given back
  kontacheck::checkInput(MemoryKonta{*fs}, std::string(reinterpret_cast<const char*>(data), size));
  fs->clear();  // what an input made is gone behind it, as libFuzzer's leak check expects
  return 0;
}
