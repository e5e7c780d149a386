#!/usr/bin/env bash
# Keeps the floors of the house right: each folder of src/ may include only the folders listed
# for it below. The core never reaches a backend, the shell or the tools; nothing below app/
# includes app/, which only composes the application. Prints every include that breaks the rule
# and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"

core_ground="platform platform/views diagnostics settings"
declare -A allowed=(
  # The bodies shared with the server stand on nothing of Tolvane's.
  [wire]="wire"
  [platform]="platform"
  [platform/views]="platform platform/views"
  [diagnostics]="platform diagnostics"
  [settings]="platform diagnostics settings"
  [localization]="$core_ground localization"
  # Settings sync reads and writes the settings and checks remote values against the languages
  # and the key names this machine knows.
  [cloud]="$core_ground wire localization cloud input/key_combo.h"
  [reporting]="$core_ground wire cloud reporting"
  # The enumerator sorts by the focus history, and the history holds window records.
  [windows]="$core_ground reporting windows focus"
  [focus]="$core_ground reporting windows focus"
  [hud]="$core_ground localization windows hud"
  [input]="$core_ground localization reporting windows focus hud input"
  # The palette reads key codes, never the switcher: what it needs of the session comes in as
  # functions.
  [palette]="$core_ground localization reporting windows focus input/key_codes.h palette"
  # The tray menu lists recent windows and shows the switcher's and the palette hotkey's state.
  [menu]="$core_ground localization windows focus input menu"
  # Update checks speak the interface language and log; they may share the cloud's conventions.
  [updates]="$core_ground localization cloud updates"
  # The settings window edits every setting and shows the account, tester mode and updates.
  [settings_window]="$core_ground localization cloud reporting windows input updates settings_window"
  # The onboarding asks for the permission and explains the key bindings.
  [onboarding]="$core_ground localization windows input onboarding"
  [app]="$core_ground localization cloud reporting windows focus hud input palette menu updates settings_window onboarding app"
  # Backends implement the core's interfaces and may use its ground and value types.
  [platform/sim]="$core_ground platform/sim input"
  [platform/system]="$core_ground platform/system"
  [platform/x11]="$core_ground platform/x11 input"
  [ui/qt]="$core_ground ui/qt"
  # The front door: the filter, the instance socket and the user's folders, never the desktop.
  [front]="platform platform/system palette front"
  # The composition root of the real desktop.
  [shell]="$core_ground localization cloud reporting windows focus hud input palette settings_window onboarding app platform/system platform/x11 ui/qt shell"
)

# The folder an include names: the longest key of `allowed` that prefixes it.
folder_of() {
  local path=$1 best=""
  for key in "${!allowed[@]}"; do
    if [[ $path == "$key/"* && ${#key} -gt ${#best} ]]; then best=$key; fi
  done
  echo "${best:-${path%%/*}}"
}

status=0
while IFS= read -r file; do
  dir=$(dirname "$file")
  [[ $dir == . ]] && continue  # main.cpp composes everything
  from=$(folder_of "$file")
  if [[ -z ${allowed[$from]+set} ]]; then
    echo "check-includes: $file lies in $dir, which has no rule here" >&2
    status=1
    continue
  fi
  while IFS= read -r included; do
    to=$(folder_of "$included")
    # A rule may also name one header of a folder rather than the whole folder.
    if [[ " ${allowed[$from]} " != *" $to "* && " ${allowed[$from]} " != *" $included "* ]]; then
      echo "check-includes: $file includes \"$included\" ($from may not include $to)" >&2
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort)

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
