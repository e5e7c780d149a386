#!/usr/bin/env bash
# Keeps the floors of the house right: each folder of src/ may include only the folders listed
# for it below, and the folders' includes form no cycle. The ground (base/) stands on nothing;
# the contracts (platform/) on the ground alone; the core never reaches a backend, the shell or
# the tools; backends stand above the contracts they implement; nothing below app/ includes
# app/, which only composes the application. The display servers' and the toolkit's own headers
# stay in the folders that speak to them. Prints every include that breaks a rule and every
# cycle, and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"

# What every core subsystem may stand on: the ground helpers, the service contracts, the log,
# the settings store and the values several floors share.
core_ground="base platform diagnostics settings model"
declare -A allowed=(
  # The bodies shared with the server stand on nothing of Tolvane's.
  [wire]="wire"
  [base]="base"
  [platform]="base platform"
  [views]="base views"
  [diagnostics]="base diagnostics"
  [settings]="base platform diagnostics settings"
  # Key combos and codes, the window record, the usage recorder and the service configuration.
  [model]="base platform wire model"
  [localization]="$core_ground localization"
  # Settings sync reads and writes the settings and checks remote values against the languages
  # and the key names this machine knows.
  [cloud]="$core_ground wire localization cloud"
  [reporting]="$core_ground wire reporting"
  [focus]="$core_ground focus"
  # The enumerator sorts by the focus history.
  [windows]="$core_ground focus windows"
  [hud]="$core_ground views localization hud"
  [input]="$core_ground views localization windows focus hud input"
  # The palette never reads the switcher: what it needs of the session comes in as functions.
  [palette]="$core_ground views localization windows focus palette"
  # The tray menu lists recent windows and shows the switcher's and the palette hotkey's state.
  [menu]="$core_ground views localization input menu"
  # Update checks speak the interface language and log.
  [updates]="$core_ground localization updates"
  # The settings window edits every setting and shows the account, tester mode and updates.
  [settings_window]="$core_ground views localization cloud reporting windows input updates settings_window"
  # The onboarding asks for the permission and explains the key bindings.
  [onboarding]="$core_ground views localization windows onboarding"
  [app]="$core_ground localization cloud reporting windows focus hud input palette menu updates settings_window onboarding app"
  # Backends implement the contracts and may use the ground and the shared values.
  [backends/sim]="$core_ground views backends/sim"
  [backends/system]="$core_ground backends/system"
  [backends/sway]="$core_ground backends/system backends/sway"
  # KWin's scripting over the session bus: no display library either.
  [backends/kwin]="$core_ground backends/system backends/kwin"
  [backends/gnome]="$core_ground backends/system backends/wayland backends/kwin backends/desktop_model backends/gnome"
  # The desktop model the real desktops feed: no display library, no backend of its own.
  [backends/desktop_model]="$core_ground backends/system backends/desktop_model"
  [backends/x11]="$core_ground backends/system backends/desktop_model backends/x11"
  [backends/wayland]="$core_ground backends/system backends/sway backends/kwin backends/desktop_model backends/wayland"
  [ui/qt]="$core_ground views ui/qt"
  # The front door: the filter, the instance socket and the user's folders, never the desktop.
  [front]="base platform diagnostics settings model backends/system backends/sway palette front"
  # The composition root of the real desktop.
  [shell]="$core_ground localization cloud reporting windows focus hud input palette settings_window onboarding app backends/system backends/x11 backends/sway backends/kwin backends/wayland ui/qt shell"
)

# The folders (main.cpp's is ".") that may include a library header: xcb and Xlib only in the X11
# backend; libwayland, xkbcommon and the generated protocol code only in the Wayland backend; Qt
# only where its widgets are painted and composed. Sets `owners`, empty for every other header
# (no subshell: it runs for every include).
owners_of() {
  case $1 in
    xcb/* | X11/*) owners="backends/x11" ;;
    wayland-* | xkbcommon/* | *-client-protocol.h) owners="backends/wayland" ;;
    Q* | qpa/*) owners="ui/qt shell ." ;;
    *) owners="" ;;
  esac
}

# The folder a path names: the longest key of `allowed` that prefixes it.
folder_of() {
  local path=$1 best=""
  for key in "${!allowed[@]}"; do
    if [[ $path == "$key/"* && ${#key} -gt ${#best} ]]; then best=$key; fi
  done
  echo "${best:-${path%%/*}}"
}

status=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
while IFS= read -r file; do
  dir=$(dirname "$file")
  from=$(folder_of "$file")
  [[ $dir == . ]] && from=.
  while IFS= read -r header; do
    owners_of "$header"
    if [[ -n $owners && " $owners " != *" $from "* ]]; then
      echo "check-includes: $file includes <$header> (only $owners may)" >&2
      status=1
    fi
  done < <(sed -n 's/^#include [<"]\([^>"]*\)[>"].*/\1/p' "$file")
  [[ $dir == . ]] && continue  # main.cpp composes everything
  if [[ -z ${allowed[$from]+set} ]]; then
    echo "check-includes: $file lies in $dir, which has no rule here" >&2
    status=1
    continue
  fi
  while IFS= read -r included; do
    to=$(folder_of "$included")
    [[ $to == "$from" ]] || echo "$from $to" >>"$edges"
    if [[ " ${allowed[$from]} " != *" $to "* ]]; then
      echo "check-includes: $file includes \"$included\" ($from may not include $to)" >&2
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort)

# A cycle among the folders makes them one floor, whatever the rules above say: tsort names the
# folders of each loop it finds.
if ! loops=$(sort -u "$edges" | tsort 2>&1 >/dev/null); then
  echo "check-includes: the folders' includes form a cycle:" >&2
  sed -n 's/^tsort: //p' <<<"$loops" | grep -v 'input contains a loop' | sed 's/^/  /' >&2
  status=1
fi

# tolvane-server shares the wire bodies with the application and nothing else of it.
cd ../server
server_folders=" storage auth service http cli testing support wire "
while IFS= read -r file; do
  while IFS= read -r included; do
    if [[ $server_folders != *" ${included%%/*} "* ]]; then
      echo "check-includes: server/$file includes \"$included\" (the server may use only src/wire)" >&2
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort)
exit $status
