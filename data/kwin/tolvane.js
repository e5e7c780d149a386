// Tolvane's part of KWin: the trigger shortcuts, handed to Tolvane without waiting for an
// answer, and the way out when Tolvane stops answering while its panel holds the keyboard.
//
// Tolvane writes `tolvane` above this text before loading it: its bus name, its object, and the
// shortcuts the settings ask for. KWin 5.27 and KWin 6 name some things differently; `kwin`
// below is the one place that knows.
//
// The heartbeat: from a press on, every `beatMs` the script asks Tolvane whether a session holds
// the keyboard. A "no" ends the watch. No answer for `graceMs` means Tolvane is stopped or hung
// with its panel holding every key: the window that was active at the press is activated, which
// takes the keyboard back from the panel.
"use strict";

var kwin = {
  activeWindow: function () {
    return "activeWindow" in workspace ? workspace.activeWindow : workspace.activeClient;
  },
  activate: function (window) {
    if ("activeWindow" in workspace) {
      workspace.activeWindow = window;
    } else {
      workspace.activeClient = window;
    }
  },
  windows: function () {
    return workspace.windowList ? workspace.windowList() : workspace.clientList();
  },
};

var watch = null;

// Each call goes out and the script goes on: KWin never waits for Tolvane.
function callTolvane(method, argument) {
  callDBus(tolvane.service, tolvane.path, tolvane.interface, method, argument);
}

function stopWatch() {
  if (watch) watch.timer.stop();
  watch = null;
}

function stillThere(window) {
  return window && kwin.windows().indexOf(window) >= 0;
}

function look() {
  var current = watch;
  if (Date.now() - current.lastBeat > tolvane.graceMs) {
    stopWatch();
    if (stillThere(current.previous)) kwin.activate(current.previous);
    print("tolvane: no heartbeat for " + tolvane.graceMs + " ms; keyboard taken back");
    return;
  }
  callTolvane("Heartbeat", function (held) {
    if (watch !== current) return;
    if (held) {
      current.lastBeat = Date.now();
    } else {
      stopWatch();
    }
  });
}

function startWatch() {
  var timer = new QTimer();
  timer.interval = tolvane.beatMs;
  timer.singleShot = false;
  watch = { previous: kwin.activeWindow(), lastBeat: Date.now(), timer: timer };
  timer.timeout.connect(look);
  timer.start();
}

function press(word) {
  if (!watch) startWatch();
  callTolvane("Trigger", word);
}

tolvane.shortcuts.forEach(function (shortcut) {
  registerShortcut(shortcut.name, shortcut.name, shortcut.sequence, function () {
    press(shortcut.word);
  });
});
