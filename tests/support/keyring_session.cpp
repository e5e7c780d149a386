// Starting and stopping the private bus and the keyring daemon of the keyring store's tests.
#include "support/keyring_session.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Output goes to /dev/null; stdin comes from `stdinFd` or /dev/null. setpriv makes the child
// get SIGTERM should this process die without its destructors, so a crashed test leaves no
// daemon behind.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int stdinFd = -1) {
  argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "TERM", "--"});
  auto args = pointers(argv);
  auto envp = pointers(env);
  const int flags = G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                    G_SPAWN_STDERR_TO_DEV_NULL | (stdinFd < 0 ? G_SPAWN_STDIN_FROM_DEV_NULL : 0);
  GPid pid = -1;
  return g_spawn_async_with_fds(nullptr, args.data(), envp.data(), GSpawnFlags(flags), nullptr,
                                nullptr, &pid, stdinFd, -1, -1, nullptr)
             ? pid
             : -1;
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
  if (keyring_ > 0) {
    ::kill(keyring_, SIGTERM);
    ::waitpid(keyring_, nullptr, 0);
  }
  // Not g_test_dbus_down(): it waits for every user of the connection to let go, and libsecret
  // never does.
  if (bus_) g_test_dbus_stop(static_cast<GTestDBus*>(bus_.get()));
}

bool KeyringSession::startBus() {
  // GLib's test bus asserts that the daemon starts, which would end the test program.
  g_autofree gchar* daemon = g_find_program_in_path("dbus-daemon");
  if (!daemon) {
    problem_ = "no dbus-daemon";
    return false;
  }
  auto* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  bus_.reset(bus, g_object_unref);
  g_test_dbus_up(bus);  // sets DBUS_SESSION_BUS_ADDRESS
  busAddress_ = g_test_dbus_get_bus_address(bus);
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
