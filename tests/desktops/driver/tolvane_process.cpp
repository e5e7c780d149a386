// Starting, reading and ending the tolvane child.
#include "desktops/driver/tolvane_process.h"

#include <sys/stat.h>

#include <filesystem>

namespace tolvane::test {

TolvaneProcess::TolvaneProcess(const std::string& executable, const std::string& home,
                               const Environment& environment)
    : executable_(executable), environment_(environment) {
  for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
    std::filesystem::create_directories(home + "/" + name);
    environment_.emplace_back(name, home + "/" + name);
  }
  chmod((home + "/XDG_RUNTIME_DIR").c_str(), 0700);
  child_ = std::make_unique<ChildProcess>(std::vector<std::string>{executable_, "--verbose"},
                                          environment_, -1, log_.writeEnd());
  log_.closeWriteEnd();
}

int TolvaneProcess::runAgain(const std::vector<std::string>& arguments, int err) {
  std::vector<std::string> argv{executable_};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ChildProcess again(argv, environment_, -1, err);
  return again.waitForEnd(kBound) ? again.status() : -1;
}

}  // namespace tolvane::test
