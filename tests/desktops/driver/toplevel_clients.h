// The Wayland test client's windows on a compositor, for the suites whose compositor does not
// say which window has the focus: each client tells its own toplevels' activation on one shared
// pipe, and the focus is read from what they told.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tolvane::test {

class ToplevelClients {
 public:
  /// `program` is tolvane-wayland-test-client.
  explicit ToplevelClients(std::string program) : program_(std::move(program)) {}

  /// Starts a client of `app` holding one toplevel `title` (with the client's `flags`), or
  /// `count` toplevels "title 1"… when `count` is above 1.
  void open(const Environment& environment, const std::string& app, const std::string& title,
            const std::vector<std::string>& flags = {}, int count = 1);
  /// The activated window as "app:title", as the clients tell it; empty when none is.
  const std::string& focused() const { return focused_; }
  /// Every activation and deactivation the clients told, in the order they arrived.
  const std::string& activations() const { return activations_.text(); }
  /// Asks every running client for a round trip to the compositor; the result says when each
  /// has answered (every line about what the compositor did before is read) or ended.
  std::function<bool()> askSync();
  /// The activations and the clients' ends, for waits.
  std::vector<Source> sources();
  /// Ends every client.
  void clear() { clients_.clear(); }

 private:
  bool readActivations();

  std::string program_;
  PipeText activations_;
  std::vector<std::unique_ptr<ChildProcess>> clients_;
  std::size_t read_ = 0;
  /// The windows whose clients say they are activated, in the order they said so.
  std::vector<std::string> activated_;
  std::string focused_;
};

}  // namespace tolvane::test
