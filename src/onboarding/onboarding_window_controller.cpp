// The product's guide: its four pages on the generic pager, and what finishing it stores.
#include "onboarding/onboarding_window_controller.h"

#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "model/key_codes.h"
#include "model/key_combo.h"
#include "onboarding/onboarding_kit_controller.h"
#include "platform/notifier.h"

namespace tolvane {

namespace {

/// Longest reason from another component that the page shows.
constexpr std::size_t kMaxReasonCharacters = 200;

/// A stored palette key code as a key code; one no key has when it is out of range.
std::uint32_t paletteKey(std::int64_t stored) {
  constexpr std::int64_t kLargestKeyCode = std::numeric_limits<std::uint16_t>::max();
  if (stored < 0 || stored > kLargestKeyCode) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(stored);
}

/// The product's pages; each is built when painted, from the settings and the desktop as they
/// are then. The actions inside a page reach only the controller's dependencies and `repaint`,
/// never the pages, because the painted description may outlive them.
class OnboardingPages {
 public:
  using Deps = OnboardingWindowController::Dependencies;
  OnboardingPages(Deps& d, std::function<void()> repaint) : d_(d), repaint_(std::move(repaint)) {}

  std::vector<OKStep> steps() {
    return {
        {.kind = OKStep::Kind::welcome, .content = [this] { return welcome(); }},
        {.kind = OKStep::Kind::permissions,
         .content = [this] { return permissions(); },
         // Keys another program holds cannot be freed from this page, and the palette and the
         // rest work without them: the page explains them but does not hold the user back.
         .requiredGranted = [this] { return trusted(); },
         .skippable = true},
        {.kind = OKStep::Kind::tutorial, .content = [this] { return tutorial(); }},
        {.kind = OKStep::Kind::consent,
         .content = [this] { return consent(); },
         .primaryTitle = [this] { return text("onb.startCta"); }},
    };
  }

  OKStrings strings() {
    const auto key = [this](std::string_view k) { return [this, k] { return text(k); }; };
    return {.continueTitle = key("onb.continue"),
            .startTitle = key("onb.start"),
            .waiting = key("onb.waiting"),
            .later = key("onb.skipPerm"),
            .back = key("common.back")};
  }

  std::string text(std::string_view key) const { return d_.l10n.string(key); }

 private:
  bool trusted() const { return d_.accessibility.isProcessTrusted(); }
  std::optional<std::string> keysProblem() const {
    return d_.switcherKeysProblem ? d_.switcherKeysProblem() : std::nullopt;
  }

  std::vector<OnboardingBlock> welcome() const {
    return {OnboardingIcon{}, OnboardingHeading{text("onb.tagline")},
            OnboardingText{text("onb.welcomeBody")}};
  }

  std::vector<OnboardingBlock> permissions() {
    const bool wm = trusted();
    const auto problem = keysProblem();
    const auto manual = d_.manualBindings ? d_.manualBindings() : std::nullopt;
    // Whether the user has added the lines cannot be seen from here: the row stays open.
    std::vector<OnboardingBlock> blocks{OnboardingHeading{text("onb.permTitle")},
                                        OnboardingText{text("onb.permBody")}, windowManagerRow(wm),
                                        switcherKeysRow(!problem && !manual)};
    if (problem) {
      blocks.emplace_back(OnboardingText{
          formatText(text("perm.keysBusy"), shownText(*problem, kMaxReasonCharacters))});
    }
    if (manual) {
      blocks.emplace_back(OnboardingText{text("perm.keysManual")});
      blocks.emplace_back(OnboardingText{*manual});
    }
    if (!wm) {
      const auto explanation = d_.accessibility.untrustedExplanation();
      blocks.emplace_back(OnboardingText{explanation ? shownText(*explanation, kMaxReasonCharacters)
                                                     : text("perm.wmMissing")});
    }
    blocks.emplace_back(OnboardingLink{text("onb.openSettings"), [d = &d_] {
                                         if (d->openSwitcherSettings) d->openSwitcherSettings();
                                       }});
    return blocks;
  }

  OnboardingRequirement windowManagerRow(bool granted) const {
    OnboardingRequirement row{.id = "accessibility",
                              .title = text("perm.ax"),
                              .reason = text("perm.axWhy"),
                              .granted = granted,
                              .buttonTitle = text(granted ? "common.granted" : "common.grant")};
    if (!granted) {
      row.onButton = [d = &d_, repaint = repaint_] {
        d->permissions.request();
        repaint();
      };
    }
    return row;
  }

  /// The keys cannot be freed from here: another program holds them, so the row has no button.
  OnboardingRequirement switcherKeysRow(bool granted) const {
    return {.id = "switcherKeys",
            .title = text("perm.keys"),
            .reason = text("perm.keysWhy"),
            .granted = granted,
            .buttonTitle = granted ? text("common.granted") : std::string()};
  }

  std::vector<OnboardingBlock> tutorial() const {
    using namespace hotkeymask;
    const std::uint32_t trigger = d_.settings.switcherUsesOption() ? kOption : kCommand;
    const auto paletteMask = static_cast<std::uint32_t>(d_.settings.paletteModifiers()) &
                             (kCommand | kShift | kOption | kControl);
    return {
        OnboardingHeading{text("onb.tutTitle")},
        OnboardingText{text("onb.tutBody")},
        OnboardingKeyRow{keycombo::symbols(keycode::kTab, trigger), false, text("onb.tutSwitch")},
        OnboardingKeyRow{keycombo::symbols(keycode::kTab, trigger | kShift), false,
                         text("onb.tutBack")},
        OnboardingKeyRow{keycombo::symbols(keycode::kKeyAboveTab, trigger), false,
                         text("onb.tutAppCycle")},
        OnboardingKeyRow{keycombo::symbols(paletteKey(d_.settings.paletteKeyCode()), paletteMask),
                         true, text("onb.tutSearch")},
    };
  }

  std::vector<OnboardingBlock> consent() {
    AppSettings& settings = d_.settings;
    return {
        OnboardingHeading{text("onb.readyTitle")},
        OnboardingConsent{.id = "improveDataSharing",
                          .title = text("onb.improveTitle"),
                          .body = text("onb.improveBody"),
                          .on = settings.improveDataSharing(),
                          .onChange =
                              [d = &d_, repaint = repaint_](bool on) {
                                d->settings.setImproveDataSharing(on);
                                repaint();
                              }},
        OnboardingConsent{.id = "crashReportingEnabled",
                          .title = text("onb.crashTitle"),
                          .body = text("onb.crashBody"),
                          .on = settings.crashReportingEnabled(),
                          .onChange =
                              [d = &d_, repaint = repaint_](bool on) {
                                d->settings.setCrashReportingEnabled(on);
                                repaint();
                              }},
    };
  }

  Deps& d_;
  std::function<void()> repaint_;
};

}  // namespace

/// One showing of the guide.
struct OnboardingWindowController::Pager {
  Pager(Dependencies& d, std::function<void()> repaint, std::function<void()> onCompleted,
        std::function<void()> onClosedByUser)
      : pages(d, std::move(repaint)),
        kit({.window = d.window,
             .runLoop = d.runLoop,
             .reevaluateSeconds = kReevaluateSeconds,
             .steps = pages.steps(),
             .strings = pages.strings(),
             .windowTitle = [this] { return pages.text("menu.guide"); },
             .onCompleted = std::move(onCompleted),
             .onClosedByUser = std::move(onClosedByUser)}) {}
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  std::string pageName() const { return std::string(kindName(kit.currentKind())); }

  OnboardingPages pages;
  OnboardingKitController kit;
  Notifier::Subscription language;
};

OnboardingWindowController::OnboardingWindowController(Dependencies deps) : d_(std::move(deps)) {
  // One handler for the window's life: a pager that is gone is never reached through it.
  d_.window.setCloseHandler([this] {
    if (pager_) pager_->kit.windowClosedByUser();
  });
}

OnboardingWindowController::~OnboardingWindowController() {
  d_.window.setCloseHandler({});
  if (pager_) d_.window.close();
}

void OnboardingWindowController::show(bool startAtPermissions) {
  if (pager_) {
    if (startAtPermissions) {
      pager_->kit.moveTo(OKStep::Kind::permissions);
    } else {
      pager_->kit.repaint();
    }
    d_.window.bringToFront();
    return;
  }
  // Both ends drop the pager; each runs as the pager's last act, so nothing touches it after.
  const auto end = [this](const std::string& how) {
    d_.settings.setOnboardingCompleted(true);
    d_.log.log("onboarding: " + how);
    pager_.reset();
  };
  const auto repaint = [this] {
    if (pager_) pager_->kit.repaint();
  };
  pager_ = std::make_unique<Pager>(
      d_, repaint, [end] { end("completed"); },
      [this, end] { end("closed page=" + pager_->pageName()); });
  pager_->language = d_.l10n.subscribe(repaint);
  pager_->kit.show(startAtPermissions ? std::optional(OKStep::Kind::permissions) : std::nullopt);
  d_.log.log("onboarding: shown page=" + pager_->pageName());
}

bool OnboardingWindowController::isOpen() const {
  return pager_ != nullptr;
}

OnboardingWindowView OnboardingWindowController::view() {
  return pager_ ? pager_->kit.view() : OnboardingWindowView{};
}

}  // namespace tolvane
