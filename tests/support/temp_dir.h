// A fresh folder under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace tolvane::test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tolvane-test-XXXXXX";
    if (const char* made = ::mkdtemp(pattern)) path_ = made;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  /// Empty when the folder could not be made; every path built from it then fails loudly.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tolvane::test
