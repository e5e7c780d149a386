// The palette's elements, each painted by its own function from the description.
#include "ui/qt/palette_painting.h"

#include <QFontMetricsF>
#include <QIcon>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "ui/qt/painting_basics.h"
#include "ui/qt/qt_colors.h"

namespace tolvane::qt {

namespace {

// Geometry the description leaves to the painter.
constexpr double kSidePadding = 14;
constexpr double kSearchSpacing = 10;
constexpr double kMagnifierSide = 15;
constexpr double kKeyCapHeight = 18;
constexpr double kKeyCapPadding = 5;
constexpr double kKeyCapRadius = 4;
constexpr double kKeyCapFontSize = 10;
constexpr double kFieldFontSize = 16;
constexpr double kHairline = 0.5;
constexpr double kHintSpacing = 14;
constexpr double kHintInnerSpacing = 4;
constexpr double kHintFontSize = 10;
constexpr double kMessageSymbolSide = 30;
constexpr double kMessageSpacing = 8;
constexpr double kMessageTitleSize = 14;
constexpr double kMessageBodySize = 11;
constexpr double kRowPaddingX = 9;
constexpr double kRowPaddingY = 6;
constexpr double kRowRadius = 8;
constexpr double kRowSpacing = 10;
constexpr double kIconSide = 26;
constexpr double kPlaceholderRadius = 6;
constexpr double kTitleSize = 12.5;
constexpr double kSubtitleSize = 10;
constexpr double kTextLineSpacing = 1;
constexpr double kMarkerSide = 9;
constexpr double kShortcutSize = 9;
constexpr double kMinimumSpacer = 4;
constexpr int kLineFlags = Qt::AlignVCenter | Qt::TextSingleLine;

const Paint kTertiary{SemanticColor::primary, 0.3};
const Paint kSecondary{SemanticColor::secondary, 1};
const Paint kHairlinePaint{SemanticColor::primary, 0.08};

QColor colour(const Paint& paint, const PalettePaintContext& context) {
  return toQColor(paint, context.palette);
}

QPen strokePen(const QColor& color, double width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void paintMagnifier(QPainter& painter, const QRectF& box, const QColor& color) {
  const double width = std::max(1.2, box.width() / 9);
  painter.setPen(strokePen(color, width));
  painter.setBrush(Qt::NoBrush);
  const double lens = box.width() * 0.62;
  const QRectF circle(box.left() + width / 2, box.top() + width / 2, lens, lens);
  painter.drawEllipse(circle);
  const QPointF from = circle.center() + QPointF(lens / 2, lens / 2) * M_SQRT1_2;
  painter.drawLine(from, box.bottomRight() - QPointF(width / 2, width / 2));
}

void paintWindowOutline(QPainter& painter, const QRectF& box, const QColor& color) {
  const double width = std::max(1.0, box.width() / 20);
  painter.setPen(strokePen(color, width));
  painter.setBrush(Qt::NoBrush);
  const QRectF frame = box.adjusted(width, box.height() * 0.15, -width, -box.height() * 0.15);
  painter.drawRoundedRect(frame, box.width() / 10, box.width() / 10);
  const double bar = frame.top() + frame.height() * 0.22;
  painter.drawLine(QPointF(frame.left(), bar), QPointF(frame.right(), bar));
}

void paintLock(QPainter& painter, const QRectF& box, const QColor& color) {
  const double width = std::max(1.0, box.width() / 20);
  painter.setPen(strokePen(color, width));
  painter.setBrush(Qt::NoBrush);
  const QRectF body(box.left() + box.width() * 0.2, box.top() + box.height() * 0.45,
                    box.width() * 0.6, box.height() * 0.45);
  painter.drawRoundedRect(body, width * 2, width * 2);
  const QRectF shackle(box.left() + box.width() * 0.32, box.top() + box.height() * 0.12,
                       box.width() * 0.36, box.height() * 0.6);
  painter.drawArc(shackle, 0, 180 * 16);
  painter.drawLine(QPointF(shackle.left(), shackle.center().y()),
                   QPointF(shackle.left(), body.top()));
  painter.drawLine(QPointF(shackle.right(), shackle.center().y()),
                   QPointF(shackle.right(), body.top()));
}

/// The named symbols, drawn simply; an unknown name draws nothing.
void paintSymbol(QPainter& painter, const std::string& name, const QRectF& box,
                 const QColor& color) {
  if (name == "magnifyingglass") {
    paintMagnifier(painter, box, color);
  } else if (name == "macwindow") {
    paintWindowOutline(painter, box, color);
  } else if (name == "lock.shield") {
    paintLock(painter, box, color);
  }
}

/// Two short arrows pointing at each other along the diagonal: the window is folded away.
void paintMinimizedMarker(QPainter& painter, const QRectF& box, const QColor& color) {
  painter.setPen(strokePen(color, 1.4));
  painter.setBrush(Qt::NoBrush);
  const double third = box.width() / 3;
  const QPointF upperTip = box.center() - QPointF(1, 1);
  const QPointF lowerTip = box.center() + QPointF(1, 1);
  painter.drawLine(box.topLeft(), upperTip);
  painter.drawLine(upperTip, upperTip - QPointF(third, 0));
  painter.drawLine(upperTip, upperTip - QPointF(0, third));
  painter.drawLine(box.bottomRight(), lowerTip);
  painter.drawLine(lowerTip, lowerTip + QPointF(third, 0));
  painter.drawLine(lowerTip, lowerTip + QPointF(0, third));
}

double searchRowBottom(const PalettePanelView& view) {
  return view.searchRowHeight;
}

double hintsRowTop(const PalettePanelView& view) {
  return view.size.height - view.hintsRowHeight;
}

QRectF keyCapRect(const PalettePanelView& view, const QFont& font) {
  const double width =
      QFontMetricsF(sized(font, kKeyCapFontSize)).horizontalAdvance(QStringLiteral("esc")) +
      2 * kKeyCapPadding;
  return {view.size.width - kSidePadding - width, (view.searchRowHeight - kKeyCapHeight) / 2, width,
          kKeyCapHeight};
}

void paintHairline(QPainter& painter, const PalettePanelView& view, double y,
                   const PalettePaintContext& context) {
  painter.fillRect(QRectF(0, y, view.size.width, kHairline), colour(kHairlinePaint, context));
}

void paintSearchRow(QPainter& painter, const PalettePanelView& view,
                    const PalettePaintContext& context) {
  const QRectF magnifier(kSidePadding, (view.searchRowHeight - kMagnifierSide) / 2, kMagnifierSide,
                         kMagnifierSide);
  paintMagnifier(painter, magnifier, colour(kSecondary, context));
  const QRectF cap = keyCapRect(view, context.font);
  painter.fillPath(roundedRect(cap, kKeyCapRadius),
                   colour({SemanticColor::primary, 0.05}, context));
  painter.setFont(sized(context.font, kKeyCapFontSize));
  painter.setPen(colour(kTertiary, context));
  painter.drawText(cap, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("esc"));
}

void paintHints(QPainter& painter, const PalettePanelView& view,
                const PalettePaintContext& context) {
  const QRectF row(kSidePadding, hintsRowTop(view), view.size.width - 2 * kSidePadding,
                   view.hintsRowHeight);
  const QFont glyphFont = sized(context.font, kHintFontSize, QFont::DemiBold);
  const QFont labelFont = sized(context.font, kHintFontSize);
  double x = row.left();
  for (const PaletteHintView& hint : view.hints) {
    const QString glyph = paintableText(hint.glyph);
    const QString label = paintableText(hint.label);
    const double glyphWidth = QFontMetricsF(glyphFont).horizontalAdvance(glyph);
    const double labelWidth = QFontMetricsF(labelFont).horizontalAdvance(label);
    if (x + glyphWidth + kHintInnerSpacing + labelWidth > row.right()) break;
    painter.setFont(glyphFont);
    painter.setPen(colour(kSecondary, context));
    painter.drawText(QRectF(x, row.top(), glyphWidth, row.height()), kLineFlags, glyph);
    x += glyphWidth + kHintInnerSpacing;
    painter.setFont(labelFont);
    painter.setPen(colour(kTertiary, context));
    painter.drawText(QRectF(x, row.top(), labelWidth, row.height()), kLineFlags, label);
    x += labelWidth + kHintSpacing;
  }
}

/// One line of text elided at its end, painted left to right whatever its script, with the
/// matched ranges drawn in `matchColour` (and underlined when `underline`) in a bold face.
void paintMatchedLine(QPainter& painter, const QRectF& rect, const std::string& utf8,
                      const std::vector<TextRange>& matches, const QFont& font,
                      const QColor& textColour, const QColor& matchColour, bool underline) {
  const QString full = paintableText(utf8);
  // Elided at the end in the bold face, which is at least as wide as the regular one, so the
  // highlighted line still fits.
  QFont bold = font;
  bold.setWeight(QFont::Bold);
  const QString text = QFontMetricsF(bold).elidedText(full, Qt::ElideRight, rect.width());
  // An elided text keeps the full text's beginning; ranges past that fall on the ellipsis.
  const int kept = text == full ? static_cast<int>(text.size()) : static_cast<int>(text.size()) - 1;
  QList<QTextLayout::FormatRange> formats;
  for (const auto& [start, length] : utf16Ranges(utf8, matches)) {
    if (start >= kept) continue;
    QTextLayout::FormatRange format;
    format.start = start;
    format.length = std::min(length, kept - start);
    format.format.setFontWeight(QFont::Bold);
    format.format.setForeground(matchColour);
    format.format.setFontUnderline(underline);
    formats.append(format);
  }
  QTextLayout layout(text, font);
  QTextOption option(Qt::AlignLeft);
  option.setTextDirection(Qt::LeftToRight);
  option.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.setFormats(formats);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (line.isValid()) line.setLineWidth(rect.width());
  layout.endLayout();
  if (!line.isValid()) return;
  painter.save();
  painter.setClipRect(rect, Qt::IntersectClip);
  painter.setPen(textColour);
  const double top = rect.top() + (rect.height() - line.height()) / 2;
  layout.draw(&painter, QPointF(rect.left(), top));
  painter.restore();
}

void paintRowIcon(QPainter& painter, const PaletteRowView& row, const QRectF& rect,
                  const PalettePaintContext& context) {
  const int side = qCeil(rect.width() * painter.device()->devicePixelRatioF());
  const QIcon icon = context.icons.icon(row.iconWindowID, row.iconBundleID, side);
  if (!icon.isNull()) {
    icon.paint(&painter, rect.toAlignedRect());
    return;
  }
  painter.fillPath(roundedRect(rect, kPlaceholderRadius),
                   colour({SemanticColor::primary, 0.08}, context));
}

}  // namespace

QString paintableText(const std::string& utf8) {
  QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  for (QChar& c : text) {
    const auto category = c.category();
    if (category == QChar::Other_Control || category == QChar::Other_Format ||
        category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
      c = QChar::ReplacementCharacter;
    }
  }
  return text;
}

std::vector<std::pair<int, int>> utf16Ranges(const std::string& utf8,
                                             const std::vector<TextRange>& ranges) {
  // UTF-16 position of each byte offset; continuation bytes share their character's position.
  std::vector<int> position(utf8.size() + 1, 0);
  int units = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    position[i] = units;
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if ((byte & 0xC0) == 0x80) continue;
    units += byte >= 0xF0 ? 2 : 1;
  }
  position[utf8.size()] = units;
  std::vector<std::pair<int, int>> result;
  for (const TextRange& range : ranges) {
    const std::size_t start = std::min(range.start, utf8.size());
    const std::size_t end = std::min(utf8.size(), start + std::min(range.length, utf8.size()));
    const int from = position[start];
    const int to = position[end];
    if (to > from) result.emplace_back(from, to - from);
  }
  return result;
}

QPainterPath paletteShape(const PalettePanelView& view) {
  return roundedRect(QRectF(0, 0, view.size.width, view.size.height), view.cornerRadius);
}

QFont searchFieldFont(const QFont& base) {
  return sized(base, kFieldFontSize);
}

QRectF searchFieldRect(const PalettePanelView& view, const QFont& font) {
  const double left = kSidePadding + kMagnifierSide + kSearchSpacing;
  const QRectF cap = keyCapRect(view, font);
  const double right = cap.left() - kSearchSpacing;
  return {left, 0, std::max(0.0, right - left), view.searchRowHeight};
}

QRectF paletteBodyRect(const PalettePanelView& view) {
  const double top = searchRowBottom(view) + kHairline;
  const double bottom = hintsRowTop(view) - kHairline;
  return {0, top, view.size.width, std::max(0.0, bottom - top)};
}

void paintPaletteChrome(QPainter& painter, const PalettePanelView& view,
                        const PalettePaintContext& context) {
  const QColor backdrop = panelBackdrop(context.palette, context.translucent);
  const QRectF whole(0, 0, view.size.width, view.size.height);
  if (context.translucent) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(whole, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillPath(paletteShape(view), backdrop);
  } else {
    // The window mask cuts the corners; painting them too leaves no unpainted pixel behind.
    painter.fillRect(whole, backdrop);
  }
  paintSearchRow(painter, view, context);
  paintHairline(painter, view, searchRowBottom(view), context);
  paintHairline(painter, view, hintsRowTop(view) - kHairline, context);
  paintHints(painter, view, context);
}

void paintPaletteBorder(QPainter& painter, const PalettePanelView& view,
                        const PalettePaintContext& context) {
  if (!(view.borderWidth > 0)) return;
  const double inset = view.borderWidth / 2;
  const QRectF rect =
      QRectF(0, 0, view.size.width, view.size.height).adjusted(inset, inset, -inset, -inset);
  painter.setPen(QPen(colour(view.border, context), view.borderWidth));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(roundedRect(rect, std::max(0.0, view.cornerRadius - inset)));
}

void paintPaletteMessage(QPainter& painter, const PaletteMessageView& message, const QRectF& body,
                         const PalettePaintContext& context) {
  const QFont titleFont = sized(context.font, kMessageTitleSize, QFont::DemiBold);
  const QFont bodyFont = sized(context.font, kMessageBodySize);
  const QString title = paintableText(message.title);
  // The body's line breaks are its own; each line is made safe on its own.
  QStringList lines;
  std::size_t from = 0;
  while (from <= message.body.size()) {
    const std::size_t end = std::min(message.body.find('\n', from), message.body.size());
    lines.append(paintableText(message.body.substr(from, end - from)));
    from = end + 1;
  }
  const double titleHeight = QFontMetricsF(titleFont).height();
  const double lineHeight = QFontMetricsF(bodyFont).height();
  const double total = kMessageSymbolSide + kMessageSpacing + titleHeight + kMessageSpacing +
                       lineHeight * static_cast<double>(lines.size());
  double y = body.center().y() - total / 2;
  const QRectF symbol(body.center().x() - kMessageSymbolSide / 2, y, kMessageSymbolSide,
                      kMessageSymbolSide);
  paintSymbol(painter, message.symbol, symbol, colour(kTertiary, context));
  y += kMessageSymbolSide + kMessageSpacing;
  const QRectF textColumn(body.left() + kSidePadding, 0, body.width() - 2 * kSidePadding, 0);
  painter.setFont(titleFont);
  painter.setPen(colour({SemanticColor::primary, 1}, context));
  painter.drawText(QRectF(textColumn.left(), y, textColumn.width(), titleHeight),
                   Qt::AlignCenter | Qt::TextSingleLine,
                   QFontMetricsF(titleFont).elidedText(title, Qt::ElideRight, textColumn.width()));
  y += titleHeight + kMessageSpacing;
  painter.setFont(bodyFont);
  painter.setPen(colour(kSecondary, context));
  for (const QString& line : lines) {
    painter.drawText(QRectF(textColumn.left(), y, textColumn.width(), lineHeight),
                     Qt::AlignCenter | Qt::TextSingleLine,
                     QFontMetricsF(bodyFont).elidedText(line, Qt::ElideRight, textColumn.width()));
    y += lineHeight;
  }
}

void paintPaletteRow(QPainter& painter, const PaletteRowView& row, const QRectF& frame,
                     const PalettePaintContext& context) {
  painter.fillPath(roundedRect(frame, kRowRadius), colour(row.background, context));
  const QRectF content = frame.adjusted(kRowPaddingX, kRowPaddingY, -kRowPaddingX, -kRowPaddingY);
  const double centreY = content.center().y();
  paintRowIcon(painter, row, QRectF(content.left(), centreY - kIconSide / 2, kIconSide, kIconSide),
               context);
  double right = content.right();
  if (row.shortcut) {
    const QFont font = sized(context.font, kShortcutSize, QFont::Medium);
    const QString text = paintableText(*row.shortcut);
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    painter.setFont(font);
    painter.setPen(colour(row.shortcutPaint, context));
    painter.drawText(QRectF(right - width, content.top(), width, content.height()),
                     kLineFlags | Qt::AlignRight, text);
    right -= width + kRowSpacing;
  }
  if (row.minimizedMarker) {
    const QRectF box(right - kMarkerSide, centreY - kMarkerSide / 2, kMarkerSide, kMarkerSide);
    paintMinimizedMarker(painter, box, colour(row.markerPaint, context));
    right -= kMarkerSide + kRowSpacing;
  }
  const double left = content.left() + kIconSide + kRowSpacing;
  const double width = std::max(0.0, right - kMinimumSpacer - left);
  const QFont titleFont = sized(context.font, kTitleSize);
  const QFont subtitleFont = sized(context.font, kSubtitleSize);
  const double titleHeight = QFontMetricsF(titleFont).height();
  const double subtitleHeight = QFontMetricsF(subtitleFont).height();
  const double top = centreY - (titleHeight + kTextLineSpacing + subtitleHeight) / 2;
  // On the selected row the accent is the background: matches are underlined in the text's
  // own colour instead.
  const bool onAccent = row.background.color == SemanticColor::accent;
  const QColor titleColour = colour(row.titlePaint, context);
  const QColor matchColour = onAccent ? titleColour : colour({SemanticColor::accent, 1}, context);
  paintMatchedLine(painter, QRectF(left, top, width, titleHeight), row.title, row.titleMatches,
                   titleFont, titleColour, matchColour, onAccent);
  const QColor subtitleColour = colour(row.subtitlePaint, context);
  paintMatchedLine(painter,
                   QRectF(left, top + titleHeight + kTextLineSpacing, width, subtitleHeight),
                   row.subtitle, row.subtitleMatches, subtitleFont, subtitleColour,
                   onAccent ? subtitleColour : matchColour, onAccent);
}

}  // namespace tolvane::qt
