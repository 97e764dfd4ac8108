#include "testprovider/dialog_units.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace rigbench {
namespace {

int roundToInt(double value) { return static_cast<int>(std::lround(value)); }

// The width of a number shaped like `text` at its widest: every digit as
// wide as the font's widest digit.
int widestNumberWidth(const QFontMetrics& metrics, const QString& text) {
  int digit = 0;
  for (char c = '0'; c <= '9'; ++c) digit = std::max(digit, metrics.horizontalAdvance(QLatin1Char(c)));
  int width = 0;
  for (const QChar c : text) width += c.isDigit() ? digit : metrics.horizontalAdvance(c);
  return width;
}

// Room a line edit needs to show `text` whole, without scrolling: its frame,
// its text margins, the edit's own margin of two pixels on each side, the
// text and the cursor behind it.
int lineEditWidthFor(const QLineEdit& edit, const QString& text) {
  constexpr int kProbeWidth = 1000;
  constexpr int kInnerMargins = 2 * 2;
  constexpr int kCursorRoom = 2;
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.rect = QRect(0, 0, kProbeWidth, edit.height());
  option.lineWidth = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  const int frame = kProbeWidth - edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit).width();
  const QMargins margins = edit.textMargins();
  return frame + margins.left() + margins.right() + kInnerMargins + widestNumberWidth(edit.fontMetrics(), text) +
         kCursorRoom;
}

// Room a control needs in pixels: a label its text, a check box its box and
// text, a push button its text and a margin, and a line edit with a
// "fitText" the number it must show whole.
int captionWidth(const QWidget& control) {
  if (const auto* label = qobject_cast<const QLabel*>(&control)) {
    return label->fontMetrics().horizontalAdvance(label->text());
  }
  if (const auto* edit = qobject_cast<const QLineEdit*>(&control)) {
    const QString fit = edit->property("fitText").toString();
    return fit.isEmpty() ? 0 : lineEditWidthFor(*edit, fit);
  }
  if (qobject_cast<const QCheckBox*>(&control) != nullptr) return control.sizeHint().width();
  if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
    return button->fontMetrics().horizontalAdvance(button->text()) + 2 * button->fontMetrics().averageCharWidth();
  }
  return 0;
}

}  // namespace

QRect formUnits(const QRect& formPixels) {
  constexpr int k = DialogUnits::kFormPixelsPerUnit;
  return QRect(formPixels.x() / k, formPixels.y() / k, formPixels.width() / k, formPixels.height() / k);
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the 52 Latin letters, rounded, and the height.
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  perUnitX_ = ((letters / 26 + 1) / 2) / 4.0;
  perUnitY_ = metrics.height() / 8.0;
}

DialogUnits DialogUnits::forForm(const QWidget& form) {
  DialogUnits units(form.font());
  units.fitCaptions(form);
  return units;
}

void DialogUnits::fitCaptions(const QWidget& form) {
  for (const QWidget* child : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    const int widthInUnits = formUnits(child->geometry()).width();
    const int needed = captionWidth(*child);
    if (widthInUnits > 0 && needed > 0) perUnitX_ = std::max(perUnitX_, static_cast<double>(needed) / widthInUnits);
  }
}

QRect DialogUnits::toPixels(const QRect& units) const {
  const int left = roundToInt(units.x() * perUnitX_);
  const int top = roundToInt(units.y() * perUnitY_);
  return QRect(left, top, roundToInt((units.x() + units.width()) * perUnitX_) - left,
               roundToInt((units.y() + units.height()) * perUnitY_) - top);
}

void DialogUnits::placeFrame(QGroupBox& box) const {
  // Half the font's height is four vertical units; the caption starts one
  // average character in.
  const int lineDrop = toPixels(QRect(0, 0, 0, 4)).height();
  const int captionIndent = toPixels(QRect(0, 0, 4, 0)).width();
  box.setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: %1px; }"
                                   "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                                   " left: %2px; padding: 0px 2px; }")
                        .arg(lineDrop)
                        .arg(captionIndent));
}

void DialogUnits::apply(QWidget& form) const {
  for (QWidget* child : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (child->isWindow()) continue;
    child->setGeometry(toPixels(formUnits(child->geometry())));
    if (auto* box = qobject_cast<QGroupBox*>(child)) placeFrame(*box);
  }
  const QRect size = toPixels(QRect(QPoint(0, 0), formUnits(form.geometry()).size()));
  form.setFixedSize(size.size());
}

}  // namespace rigbench
