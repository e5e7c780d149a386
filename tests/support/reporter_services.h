// Everything a usage reporter is built from, on a temporary folder and the loopback mock; shared
// by the reporter's tests and its benchmark.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_preference_store.h"
#include "platform/sim/sim_system.h"
#include "platform/system/posix_file_system.h"
#include "reporting/improve_reporter.h"
#include "support/mock_backend.h"
#include "support/temp_dir.h"

namespace tolvane::test {

struct ReporterServices {
  TempDir temp;
  std::string queueFile = temp.path() + "/brenmoor/improve-queue.jsonl";
  system::PosixFileSystem disk;
  sim::FaultyFileSystem files{disk};
  sim::SimPreferenceStore preferences;
  sim::SimRandom random;
  sim::SimSystemInfo system;
  MockBackend mock;
  /// What the reporter logged, read after a drain.
  std::vector<std::string> logged;

  /// The reporter's dependencies over these services, sending to the mock through `http`.
  ImproveReporter::Dependencies dependencies(HttpClient& http, const Clock& clock, RunLoop& runLoop,
                                             BundleInfo bundle = {}) {
    return {.preferences = preferences,
            .http = http,
            .clock = clock,
            .runLoop = runLoop,
            .files = files,
            .random = random,
            .system = system,
            .bundle = std::move(bundle),
            .cloud = CloudConfig(mock.baseURL()),
            .queueFile = queueFile,
            .log = [this](const std::string& line) { logged.push_back(line); }};
  }
};

}  // namespace tolvane::test
