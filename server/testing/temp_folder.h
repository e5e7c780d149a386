// A fresh folder under /tmp, removed with everything in it when its owner goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace tolvane::server::testing {

class TempFolder {
 public:
  explicit TempFolder(const char* prefix = "tolvane-server") {
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    if (const char* made = ::mkdtemp(pattern.data())) path_ = made;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  /// Empty when the folder could not be made; every path built from it then fails loudly.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tolvane::server::testing
