#pragma once
// A fresh temporary folder that is the working directory for one test; the
// previous working directory comes back and the folder is removed after it.
#include <filesystem>
#include <string>

class TempCwd {
 public:
  TempCwd();
  ~TempCwd();
  TempCwd(const TempCwd&) = delete;
  TempCwd& operator=(const TempCwd&) = delete;

  const std::filesystem::path& path() const { return dir_; }
  // Whole file as bytes ("" when missing); write replaces the file. Names
  // are UTF-8 (as the program's Windows-1250 names reach the file system).
  std::string read(const std::string& name) const;
  void write(const std::string& name, const std::string& bytes) const;
  bool has(const std::string& name) const;

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};
