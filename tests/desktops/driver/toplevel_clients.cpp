// Starting the test client's windows and reading the focus from what they tell.
#include "desktops/driver/toplevel_clients.h"

#include <signal.h>

#include <algorithm>

namespace tolvane::test {

void ToplevelClients::open(const Environment& environment, const std::string& app,
                           const std::string& title, const std::vector<std::string>& flags,
                           int count) {
  std::vector<std::string> argv{program_, "--app-id", app, "--title", title};
  if (count > 1) argv.insert(argv.end(), {"--count", std::to_string(count)});
  argv.insert(argv.end(), flags.begin(), flags.end());
  clients_.push_back(std::make_unique<ChildProcess>(argv, environment, activations_.writeEnd()));
}

std::vector<Source> ToplevelClients::sources() {
  std::vector<Source> all{{activations_.source().fd, [this] { return readActivations(); }}};
  for (const auto& client : clients_) all.push_back(client->source());
  return all;
}

// Lines from several clients share the pipe, each client telling only its own changes: a
// window's deactivation may come after the next one's activation, and a compositor may activate
// a window for a moment while another keeps the activated state. The focused window is the one
// activated last of those that still say they are.
bool ToplevelClients::readActivations() {
  const bool open = activations_.source().drain();
  const std::string& text = activations_.text();
  for (auto end = text.find('\n', read_); end != std::string::npos; end = text.find('\n', read_)) {
    const std::string line = text.substr(read_, end - read_);
    read_ = end + 1;
    const bool activated = line.starts_with("activated ");
    if (!activated && !line.starts_with("deactivated ")) continue;
    const std::string window = line.substr(line.find(' ') + 1);
    std::erase(activated_, window);
    if (activated) activated_.push_back(window);
  }
  focused_ = activated_.empty() ? "" : activated_.back();
  return open;
}

std::function<bool()> ToplevelClients::askSync() {
  const int synced = activations_.count("synced\n");
  std::vector<const ChildProcess*> asked;
  for (const auto& client : clients_) {
    client->source().drain();
    if (client->ended()) continue;
    client->signal(SIGUSR1);
    asked.push_back(client.get());
  }
  // A client whose last window closed ends instead of answering.
  return [this, synced, asked] {
    const auto ended = std::count_if(asked.begin(), asked.end(),
                                     [](const ChildProcess* client) { return client->ended(); });
    return activations_.count("synced\n") - synced + ended >= std::ssize(asked);
  };
}

ToplevelSession::~ToplevelSession() {
  typists_.clear();
  clients_.clear();
  compositor_.reset();
}

Environment ToplevelSession::clientEnvironment() const {
  return {{"WAYLAND_DISPLAY", wayland_},
          {"DBUS_SESSION_BUS_ADDRESS", bus_.address()},
          {"XDG_RUNTIME_DIR", runtime_},
          {"XDG_CURRENT_DESKTOP", desktop_},
          {"DISPLAY", ""}};
}

bool ToplevelSession::openWindow(const std::string& app, const std::string& title,
                                 const std::string& record) {
  clients_.open(clientEnvironment(), app, title,
                record.empty() ? std::vector<std::string>{} : Steps{"--record", record});
  return waitWith([&] { return focused() == app + ":" + title; });
}

bool ToplevelSession::openWindows(const std::string& app, int count) {
  clients_.open(clientEnvironment(), app, app, {}, count);
  return waitFocused(app);
}

// The compositor answers after all it had to handle before; what it told the clients then is
// ahead of the answer to each one's round trip.
bool ToplevelSession::sync(const std::vector<Source>& also) {
  return ping() && waitWith(clients_.askSync(), also);
}

std::vector<Source> ToplevelSession::sources() {
  std::vector<Source> all = CompositorSession::sources();
  all.push_back(bus_.source());
  for (auto& source : clients_.sources()) all.push_back(std::move(source));
  return all;
}

}  // namespace tolvane::test
