// Foreign toplevel handles: pending state per handle, applied at `done`.
#include "backends/wayland/foreign_toplevels.h"

#include <wayland-client.h>

#include <algorithm>

#include "backends/wayland/toplevel_values.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tolvane::wayland {

struct ForeignToplevels::Entry {
  ForeignToplevels* owner = nullptr;
  zwlr_foreign_toplevel_handle_v1* handle = nullptr;
  ToplevelState pending;
  ToplevelState current;
  std::vector<const wl_output*> pendingOutputs;
  bool announced = false;
};

// The C callbacks, befriended through the nested type.
struct ForeignToplevels::Events {
  static Entry& of(void* data) { return *static_cast<Entry*>(data); }

  static void title(void* d, zwlr_foreign_toplevel_handle_v1*, const char* text) {
    of(d).pending.title = boundedText(text != nullptr ? text : "");
  }
  static void appId(void* d, zwlr_foreign_toplevel_handle_v1*, const char* text) {
    of(d).pending.appId = boundedText(text != nullptr ? text : "");
  }
  static void outputEnter(void* d, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
    auto& outputs = of(d).pendingOutputs;
    if (output != nullptr && std::find(outputs.begin(), outputs.end(), output) == outputs.end()) {
      outputs.push_back(output);
    }
  }
  static void outputLeave(void* d, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
    auto& outputs = of(d).pendingOutputs;
    outputs.erase(std::remove(outputs.begin(), outputs.end(), output), outputs.end());
  }
  static void state(void* d, zwlr_foreign_toplevel_handle_v1*, wl_array* array) {
    const auto flags = array != nullptr ? decodeToplevelStates(array->data, array->size)
                                        : decodeToplevelStates(nullptr, 0);
    if (!flags) return;
    ToplevelState& pending = of(d).pending;
    pending.maximized = flags->maximized;
    pending.minimized = flags->minimized;
    pending.activated = flags->activated;
    pending.fullscreen = flags->fullscreen;
  }
  static void done(void* d, zwlr_foreign_toplevel_handle_v1*) {
    Entry& entry = of(d);
    entry.owner->publish(entry);
  }
  static void closed(void* d, zwlr_foreign_toplevel_handle_v1*) {
    Entry& entry = of(d);
    entry.owner->remove(entry);
  }
  static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

  static void toplevel(void* d, zwlr_foreign_toplevel_manager_v1*,
                       zwlr_foreign_toplevel_handle_v1* handle) {
    static_cast<ForeignToplevels*>(d)->add(handle);
  }
  static void finished(void* d, zwlr_foreign_toplevel_manager_v1*) {
    static_cast<ForeignToplevels*>(d)->finish();
  }
};

namespace {

const zwlr_foreign_toplevel_handle_v1_listener kHandleListener = {
    .title = ForeignToplevels::Events::title,
    .app_id = ForeignToplevels::Events::appId,
    .output_enter = ForeignToplevels::Events::outputEnter,
    .output_leave = ForeignToplevels::Events::outputLeave,
    .state = ForeignToplevels::Events::state,
    .done = ForeignToplevels::Events::done,
    .closed = ForeignToplevels::Events::closed,
    .parent = ForeignToplevels::Events::parent,
};

const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {
    .toplevel = ForeignToplevels::Events::toplevel,
    .finished = ForeignToplevels::Events::finished,
};

}  // namespace

ForeignToplevels::ForeignToplevels(wl_display* display, zwlr_foreign_toplevel_manager_v1* manager,
                                   std::function<wl_seat*()> seat,
                                   std::function<std::string(const wl_output*)> outputName)
    : display_(display),
      manager_(manager),
      seat_(std::move(seat)),
      outputName_(std::move(outputName)) {
  zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &kManagerListener, this);
}

ForeignToplevels::~ForeignToplevels() {
  for (auto& entry : entries_) zwlr_foreign_toplevel_handle_v1_destroy(entry->handle);
  if (manager_ != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(manager_);
}

std::vector<ToplevelState> ForeignToplevels::toplevels() const {
  std::vector<ToplevelState> states;
  for (const auto& entry : entries_) {
    if (entry->announced) states.push_back(entry->current);
  }
  return states;
}

ForeignToplevels::Entry* ForeignToplevels::find(ToplevelId id) const {
  for (const auto& entry : entries_) {
    if (entry->announced && entry->current.id == id) return entry.get();
  }
  return nullptr;
}

void ForeignToplevels::add(zwlr_foreign_toplevel_handle_v1* handle) {
  auto entry = std::make_unique<Entry>();
  entry->owner = this;
  entry->handle = handle;
  entry->pending.id = nextId_++;
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, entry.get());
  entries_.push_back(std::move(entry));
}

void ForeignToplevels::publish(Entry& entry) {
  entry.pending.outputs.clear();
  for (const wl_output* output : entry.pendingOutputs) {
    if (std::string name = outputName_ ? outputName_(output) : ""; !name.empty()) {
      entry.pending.outputs.push_back(std::move(name));
    }
  }
  entry.current = entry.pending;
  entry.announced = true;
  if (observer_.changed) observer_.changed(entry.current);
}

void ForeignToplevels::remove(Entry& entry) {
  const bool announced = entry.announced;
  const ToplevelId id = entry.current.id;
  zwlr_foreign_toplevel_handle_v1_destroy(entry.handle);
  entries_.erase(std::find_if(entries_.begin(), entries_.end(),
                              [&](const auto& e) { return e.get() == &entry; }));
  if (announced && observer_.closed) observer_.closed(id);
}

void ForeignToplevels::finish() {
  while (!entries_.empty()) remove(*entries_.front());
  zwlr_foreign_toplevel_manager_v1_destroy(manager_);
  manager_ = nullptr;
  if (observer_.finished) observer_.finished();
}

bool ForeignToplevels::activate(ToplevelId id) {
  Entry* entry = find(id);
  wl_seat* seat = seat_ ? seat_() : nullptr;
  if (entry == nullptr || seat == nullptr) return false;
  if (entry->current.minimized) zwlr_foreign_toplevel_handle_v1_unset_minimized(entry->handle);
  zwlr_foreign_toplevel_handle_v1_activate(entry->handle, seat);
  wl_display_flush(display_);
  return true;
}

bool ForeignToplevels::close(ToplevelId id) {
  Entry* entry = find(id);
  if (entry == nullptr) return false;
  zwlr_foreign_toplevel_handle_v1_close(entry->handle);
  wl_display_flush(display_);
  return true;
}

bool ForeignToplevels::setMinimized(ToplevelId id, bool minimized) {
  Entry* entry = find(id);
  if (entry == nullptr) return false;
  if (minimized) {
    zwlr_foreign_toplevel_handle_v1_set_minimized(entry->handle);
  } else {
    zwlr_foreign_toplevel_handle_v1_unset_minimized(entry->handle);
  }
  wl_display_flush(display_);
  return true;
}

}  // namespace tolvane::wayland
