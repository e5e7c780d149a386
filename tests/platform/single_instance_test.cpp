// One instance per user and display: the second claim fails, a URL reaches the first, and a
// killed instance's leftovers do not block the next one.
#include "platform/system/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

TEST(SingleInstance, OnePerDisplayAndUrlsReachTheFirst) {
  test::TempDir runtime;
  std::string error;
  auto first = SingleInstance::claim(runtime.path(), ":7", error);
  ASSERT_TRUE(first) << error;
  EXPECT_FALSE(SingleInstance::claim(runtime.path(), ":7", error));
  EXPECT_TRUE(error.empty()) << "another instance is not an error: " << error;
  // Another display is another instance.
  EXPECT_TRUE(SingleInstance::claim(runtime.path(), ":8", error));

  ASSERT_TRUE(SingleInstance::send(runtime.path(), ":7", "tolvane://settings"));
  ASSERT_TRUE(SingleInstance::send(runtime.path(), ":7", "tolvane://auth?code=1"));
  EXPECT_EQ(first->takeMessages(),
            (std::vector<std::string>{"tolvane://settings", "tolvane://auth?code=1"}));
  EXPECT_TRUE(first->takeMessages().empty());

  first.reset();
  EXPECT_FALSE(SingleInstance::send(runtime.path(), ":7", "tolvane://settings"));
  EXPECT_TRUE(SingleInstance::claim(runtime.path(), ":7", error)) << error;
}

TEST(SingleInstance, ALeftoverSocketFileDoesNotBlockTheNextInstance) {
  test::TempDir runtime;
  const auto path = SingleInstance::socketPath(runtime.path(), "host:0.0");
  EXPECT_EQ(path, runtime.path() + "/tolvane-host_0.0.sock");
  // A socket file nobody listens on, as a killed instance leaves it.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  std::string error;
  auto instance = SingleInstance::claim(runtime.path(), "host:0.0", error);
  ASSERT_TRUE(instance) << error;
  EXPECT_TRUE(SingleInstance::send(runtime.path(), "host:0.0", "tolvane://x"));
  EXPECT_EQ(instance->takeMessages().size(), 1u);
}

TEST(SingleInstance, AnUnusableFolderSaysWhy) {
  std::string error;
  EXPECT_FALSE(SingleInstance::claim("/nonexistent/run", ":0", error));
  EXPECT_NE(error.find("/nonexistent/run/tolvane-_0.lock"), std::string::npos) << error;
}

}  // namespace
}  // namespace tolvane::system
