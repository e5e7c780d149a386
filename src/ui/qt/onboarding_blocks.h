// The blocks of an onboarding page as widgets: the icon, headings and texts, requirement rows
// with their badge or button, rows of key caps, consent rows with switches and link buttons;
// and the footer's page dots. Each block is built once and then takes new descriptions in place.
#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "views/onboarding_window_view.h"

namespace tolvane::qt {

/// A text button drawn as a link in the accent colour.
class LinkButton final : public QAbstractButton {
  Q_OBJECT

 public:
  explicit LinkButton(QWidget* parent = nullptr);
  void setAction(std::function<void()> action) { action_ = std::move(action); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<void()> action_;
};

/// One dot per page, the current one in the accent colour.
class PageDots final : public QWidget {
  Q_OBJECT

 public:
  explicit PageDots(QWidget* parent = nullptr);
  void setPages(int count, int current);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int count_ = 0;
  int current_ = 0;
};

/// A widget for `block`, already showing it.
QWidget* makeOnboardingBlock(const OnboardingBlock& block, QWidget* parent);
/// Gives a widget made by makeOnboardingBlock() a block of the same kind, in place. Values set
/// here never reach the block's actions.
void applyOnboardingBlock(QWidget* widget, const OnboardingBlock& block);
/// What must match for a page's blocks to be applied in place: each block's kind and id.
std::vector<std::string> onboardingShape(const std::vector<OnboardingBlock>& blocks);

}  // namespace tolvane::qt
