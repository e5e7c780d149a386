// Starting and stopping the private bus and the keyring daemon of the keyring store's tests.
#include "support/keyring_session.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <utility>
#include <vector>

namespace tolvane::test {

namespace {

constexpr int kBoundSeconds = 10;

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Output goes to /dev/null unless `stdoutFd` is given; stdin comes from `stdinFd` or
// /dev/null. setpriv makes the child get SIGTERM should this process die without its
// destructors, so a crashed test leaves no daemon behind.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int stdinFd = -1,
            int stdoutFd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdinFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (stdoutFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "TERM", "--"});
  auto args = pointers(argv);
  auto envp = pointers(env);
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

// The first line the child writes to `fd`, waiting at most the bound.
std::optional<std::string> firstLine(int fd) {
  std::string text;
  for (;;) {
    pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
    if (::poll(&ready, 1, kBoundSeconds * 1000) <= 0) return std::nullopt;
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    text.append(buffer, static_cast<std::size_t>(n));
    if (const auto end = text.find('\n'); end != std::string::npos) return text.substr(0, end);
  }
}

std::string variable(const char* name, const std::string& value) {
  return std::string(name) + "=" + value;
}

}  // namespace

KeyringSession& KeyringSession::shared() {
  static KeyringSession session;
  return session;
}

KeyringSession::KeyringSession() {
  if (home_.path().empty()) {
    problem_ = "no temporary folder";
    return;
  }
  ::mkdir((home_.path() + "/runtime").c_str(), 0700);
  if (startBus() && startKeyring()) waitForSecretService();
}

KeyringSession::~KeyringSession() {
  stop(keyring_);
  stop(bus_);
}

bool KeyringSession::startBus() {
  const std::string config = home_.path() + "/bus.conf";
  std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir=" << home_.path()
                        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                        << "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                        << "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
  int address[2];
  if (::pipe2(address, O_CLOEXEC) != 0) {
    problem_ = "no pipe";
    return false;
  }
  bus_ = spawn({"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"},
               {variable("PATH", "/usr/bin:/bin")}, -1, address[1]);
  ::close(address[1]);
  const auto line = bus_ > 0 ? firstLine(address[0]) : std::nullopt;
  ::close(address[0]);
  if (!line || line->empty()) {
    problem_ = "dbus-daemon did not start";
    return false;
  }
  busAddress_ = *line;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress_.c_str(), 1);
  GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!connection) {
    problem_ = "no connection to the private bus";
    return false;
  }
  // The shared connection raises SIGTERM in this process when its bus goes away, as ours does
  // when the session stops at exit.
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  connection_.reset(connection, g_object_unref);
  return true;
}

bool KeyringSession::startKeyring() {
  int password[2];
  if (::pipe2(password, O_CLOEXEC) != 0) {
    problem_ = "no pipe";
    return false;
  }
  keyring_ = spawn({"gnome-keyring-daemon", "--unlock", "--components=secrets", "--foreground"},
                   {variable("PATH", "/usr/bin:/bin"), variable("HOME", home_.path()),
                    variable("XDG_DATA_HOME", home_.path() + "/data"),
                    variable("XDG_RUNTIME_DIR", home_.path() + "/runtime"),
                    variable("DBUS_SESSION_BUS_ADDRESS", busAddress_)},
                   password[0]);
  ::close(password[0]);
  // An empty line: the login keyring is created with an empty password and left unlocked.
  const bool written = ::write(password[1], "\n", 1) == 1;
  ::close(password[1]);
  if (keyring_ <= 0 || !written) {
    problem_ = "gnome-keyring-daemon could not be started";
    return false;
  }
  return true;
}

bool KeyringSession::waitForSecretService() {
  // The daemon takes the name only after it has unlocked the login keyring.
  pid_t waiter =
      spawn({"gdbus", "wait", "--session", "--timeout", std::to_string(kBoundSeconds),
             "org.freedesktop.secrets"},
            {variable("PATH", "/usr/bin:/bin"), variable("DBUS_SESSION_BUS_ADDRESS", busAddress_)});
  int status = -1;
  if (waiter <= 0 || ::waitpid(waiter, &status, 0) != waiter || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    problem_ = "gnome-keyring-daemon did not take org.freedesktop.secrets on the bus";
    return false;
  }
  return true;
}

}  // namespace tolvane::test
