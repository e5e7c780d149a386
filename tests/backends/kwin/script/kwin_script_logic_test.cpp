// The shipped KWin script under both generations of KWin's script API: a press reaches Tolvane
// at once, the heartbeat keeps the watch while Tolvane answers "held", and a Tolvane that stops
// answering loses the keyboard to the window active at the press, once, after the grace.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJSEngine>

namespace {

// KWin's globals as far as the script uses them, with a clock the test moves (advance), the
// calls the script made (calls) and the answers it waits for (answer).
constexpr const char* kFakeKWin = R"(
var now = 1000;
Date.now = function () { return now; };
var timers = [];
function QTimer() {
  var timer = this;
  timer.interval = 0; timer.singleShot = false; timer.running = false;
  timer.timeout = { connect: function (f) { timer.handler = f; } };
  timer.start = function () { timer.running = true; timer.due = now + timer.interval; };
  timer.stop = function () { timer.running = false; };
  timers.push(timer);
}
function advance(ms) {
  var end = now + ms;
  for (;;) {
    var next = null;
    timers.forEach(function (t) { if (t.running && t.due <= end && (!next || t.due < next.due)) next = t; });
    if (!next) break;
    now = next.due;
    if (next.singleShot) next.running = false; else next.due += next.interval;
    next.handler();
  }
  now = end;
}
var shortcuts = {};
function registerShortcut(name, text, sequence, callback) { shortcuts[sequence] = callback; return true; }
var calls = [], pending = [];
function callDBus(service, path, iface, method, argument) {
  calls.push([service, method].concat(typeof argument === "function" ? [] : [argument]).join(" "));
  if (typeof argument === "function") pending.push(argument);
}
function answer(held) { var waiting = pending; pending = []; waiting.forEach(function (f) { f(held); }); }
function print() {}
var editor = { name: "editor" }, overlay = { name: "overlay" };
)";

constexpr const char* kKWin5 = R"(
var workspace = { activeClient: editor, clientList: function () { return [editor]; } };
function active() { return workspace.activeClient; }
function setActive(w) { workspace.activeClient = w; }
)";
constexpr const char* kKWin6 = R"(
var workspace = { activeWindow: editor, windowList: function () { return [editor]; } };
function active() { return workspace.activeWindow; }
function setActive(w) { workspace.activeWindow = w; }
)";

constexpr const char* kSettings = R"(
var tolvane = { service: ":1.9", path: "/p", interface: "i", beatMs: 250, graceMs: 1000,
                shortcuts: [{ name: "Tolvane: next", sequence: "Meta+Tab", word: "next" }] };
)";

class KWinScriptLogic : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    QFile script(TOLVANE_KWIN_SCRIPT);
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    for (const QString& part : {QString(kFakeKWin), QString(GetParam()), QString(kSettings),
                                QString::fromUtf8(script.readAll())}) {
      const QJSValue result = engine.evaluate(part);
      ASSERT_FALSE(result.isError()) << result.toString().toStdString();
    }
  }
  std::string eval(const char* code) {
    const QJSValue result = engine.evaluate(code);
    EXPECT_FALSE(result.isError()) << code << ": " << result.toString().toStdString();
    return result.toString().toStdString();
  }

  QJSEngine engine;
};

TEST_P(KWinScriptLogic, APressGoesOutAtOnceAndASilentTolvaneLosesTheKeyboardOnce) {
  eval("shortcuts['Meta+Tab'](); setActive(overlay);");
  EXPECT_EQ(eval("calls.join('|')"), ":1.9 Trigger next");
  // Answered "held" for two seconds: the watch goes on and nothing is taken.
  for (int beat = 0; beat < 8; ++beat) eval("advance(250); answer(true);");
  EXPECT_EQ(eval("active().name"), "overlay");
  // Then silence: not before the grace, once after it, and a late answer changes nothing.
  eval("advance(999)");
  EXPECT_EQ(eval("active().name"), "overlay");
  eval("advance(500)");
  EXPECT_EQ(eval("active().name"), "editor");
  eval("setActive(overlay); answer(true); advance(5000);");
  EXPECT_EQ(eval("active().name"), "overlay");
}

TEST_P(KWinScriptLogic, ASessionThatEndedStopsTheWatch) {
  eval("shortcuts['Meta+Tab'](); advance(250); answer(false); setActive(overlay); advance(5000);");
  EXPECT_EQ(eval("active().name"), "overlay");
  EXPECT_EQ(eval("calls.filter(function (c) { return c.indexOf('Heartbeat') >= 0; }).length"), "1");
}

INSTANTIATE_TEST_SUITE_P(Generations, KWinScriptLogic, ::testing::Values(kKWin5, kKWin6));

}  // namespace

// The engine needs an application object; nothing here runs its event loop.
int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
