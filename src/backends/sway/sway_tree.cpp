// Reading sway's layout tree: views are the leaves that carry a client, and each container's
// "focus" array (children's ids, most recent first) orders the walk that ranks them.
#include "backends/sway/sway_tree.h"

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "backends/sway/sway_ipc.h"
#include "backends/sway/sway_text.h"

namespace tolvane::sway {
namespace {

using nlohmann::json;

/// The workspace sway keeps hidden windows on, on its pseudo-output "__i3".
constexpr std::string_view kScratchpadWorkspace = "__i3_scratch";

const json* field(const json& node, const char* name) {
  const auto found = node.find(name);
  return found == node.end() ? nullptr : &*found;
}

std::string stringField(const json& node, const char* name) {
  const json* value = field(node, name);
  return value != nullptr && value->is_string()
             ? cutUtf8(value->get_ref<const std::string&>(), kMaxTreeStringBytes)
             : std::string();
}

std::optional<std::int64_t> integerField(const json& node, const char* name) {
  const json* value = field(node, name);
  if (value == nullptr || !value->is_number_integer()) return std::nullopt;
  return value->get<std::int64_t>();
}

bool booleanField(const json& node, const char* name) {
  const json* value = field(node, name);
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

bool isView(const json& node) {
  const std::string type = stringField(node, "type");
  if (type != "con" && type != "floating_con") return false;
  const json* pid = field(node, "pid");
  const json* appId = field(node, "app_id");
  const json* properties = field(node, "window_properties");
  return (pid != nullptr && !pid->is_null()) || (appId != nullptr && !appId->is_null()) ||
         (properties != nullptr && properties->is_object());
}

SwayView viewOf(const json& node) {
  SwayView view;
  view.conId = integerField(node, "id").value_or(0);
  const std::int64_t pid = integerField(node, "pid").value_or(0);
  if (pid > 0 && pid <= std::numeric_limits<std::int32_t>::max()) {
    view.pid = static_cast<std::int32_t>(pid);
  }
  view.appId = stringField(node, "app_id");
  const json* properties = field(node, "window_properties");
  if (view.appId.empty() && properties != nullptr && properties->is_object()) {
    view.appId = stringField(*properties, "class");  // an XWayland window
  }
  view.title = stringField(node, "name");
  view.focused = booleanField(node, "focused");
  return view;
}

// Where the walk stands: the output and workspace above the current node.
struct Place {
  std::string output;
  std::string visibleWorkspace;          // the output's current workspace
  std::int64_t visibleWorkspaceId = -1;  // its first focused one, where the name is absent
  std::string workspace;
  bool workspaceVisible = false;
};

// The node's children (tiled, then floating), in its focus order; those the order leaves out
// follow as listed.
std::vector<const json*> childrenInFocusOrder(const json& node) {
  std::vector<const json*> children;
  for (const char* list : {"nodes", "floating_nodes"}) {
    const json* nodes = field(node, list);
    if (nodes == nullptr || !nodes->is_array()) continue;
    for (const json& child : *nodes) {
      if (child.is_object()) children.push_back(&child);
    }
  }
  std::unordered_map<std::int64_t, std::size_t> indexOfId;
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (const auto id = integerField(*children[i], "id")) indexOfId.emplace(*id, i);
  }
  std::vector<const json*> ordered;
  std::vector<bool> taken(children.size(), false);
  const json* focus = field(node, "focus");
  if (focus != nullptr && focus->is_array()) {
    for (const json& id : *focus) {
      if (!id.is_number_integer()) continue;
      const auto found = indexOfId.find(id.get<std::int64_t>());
      if (found == indexOfId.end() || taken[found->second]) continue;
      taken[found->second] = true;
      ordered.push_back(children[found->second]);
    }
  }
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (!taken[i]) ordered.push_back(children[i]);
  }
  return ordered;
}

// The place below `node`, which the walk enters.
Place placeBelow(const json& node, const Place& above) {
  Place place = above;
  const std::string type = stringField(node, "type");
  if (type == "output") {
    place.output = stringField(node, "name");
    place.visibleWorkspace = stringField(node, "current_workspace");
    place.visibleWorkspaceId = -1;
    const json* focus = field(node, "focus");
    if (focus != nullptr && focus->is_array() && !focus->empty() &&
        focus->front().is_number_integer()) {
      place.visibleWorkspaceId = focus->front().get<std::int64_t>();
    }
  } else if (type == "workspace") {
    place.workspace = stringField(node, "name");
    place.workspaceVisible = place.visibleWorkspace.empty()
                                 ? integerField(node, "id") == place.visibleWorkspaceId
                                 : place.workspace == place.visibleWorkspace;
    if (place.workspace == kScratchpadWorkspace) {
      place.workspace.clear();
      place.output.clear();
      place.workspaceVisible = false;
    }
  }
  return place;
}

void walk(const json& node, const Place& above, int depth, std::vector<SwayView>& views) {
  if (depth > kMaxTreeDepth || views.size() >= kMaxTreeViews) return;
  if (isView(node)) {
    SwayView view = viewOf(node);
    view.workspace = above.workspace;
    view.output = above.output;
    view.workspaceVisible = above.workspaceVisible;
    view.focusRank = static_cast<int>(views.size());
    views.push_back(std::move(view));
    return;
  }
  const Place place = placeBelow(node, above);
  for (const json* child : childrenInFocusOrder(node)) walk(*child, place, depth + 1, views);
}

}  // namespace

std::vector<SwayView> parseSwayTree(const nlohmann::json& tree) {
  std::vector<SwayView> views;
  if (tree.is_object()) walk(tree, Place{}, 0, views);
  return views;
}

bool eventChangesViews(std::uint32_t type, const json& body) {
  if (type != ipc::kWindowEvent) return true;
  const json* change = body.is_object() ? field(body, "change") : nullptr;
  if (change == nullptr || !change->is_string()) return true;
  const auto& name = change->get_ref<const std::string&>();
  return name != "focus" && name != "title" && name != "mark" && name != "urgent" &&
         name != "fullscreen_mode" && name != "floating";
}

}  // namespace tolvane::sway
