// The compositor's toplevels through zwlr_foreign_toplevel_manager_v1: a ToplevelSource.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/wayland/toplevel_model.h"

struct wl_display;
struct wl_output;
struct wl_seat;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;

namespace tolvane::wayland {

/// Keeps a pending state per handle and publishes it whole at each `done`. Main thread only.
class ForeignToplevels : public ToplevelSource {
 public:
  /// Takes over `manager`; `seat` gives the seat activations are asked for (null: activate then
  /// fails). `outputName` names an output the compositor mentions.
  ForeignToplevels(wl_display* display, zwlr_foreign_toplevel_manager_v1* manager,
                   std::function<wl_seat*()> seat,
                   std::function<std::string(const wl_output*)> outputName);
  ~ForeignToplevels() override;

  std::vector<ToplevelState> toplevels() const override;
  void setObserver(Observer observer) override { observer_ = std::move(observer); }
  bool activate(ToplevelId id) override;
  bool close(ToplevelId id) override;
  bool setMinimized(ToplevelId id, bool minimized) override;

  struct Entry;
  struct Events;

 private:
  Entry* find(ToplevelId id) const;
  void add(zwlr_foreign_toplevel_handle_v1* handle);
  void publish(Entry& entry);
  void remove(Entry& entry);
  void finish();

  wl_display* display_;
  zwlr_foreign_toplevel_manager_v1* manager_;
  std::function<wl_seat*()> seat_;
  std::function<std::string(const wl_output*)> outputName_;
  Observer observer_;
  std::vector<std::unique_ptr<Entry>> entries_;
  ToplevelId nextId_ = 1;
};

}  // namespace tolvane::wayland
