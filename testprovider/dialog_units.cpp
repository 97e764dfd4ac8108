#include "testprovider/dialog_units.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QWidget>
#include <cmath>

namespace rigbench {
namespace {

int roundToInt(double value) { return static_cast<int>(std::lround(value)); }

// Room a caption needs in its control, in pixels: a label its text, a
// check box its box and text, a push button its text and a margin.
int captionWidth(const QWidget& control) {
  if (const auto* label = qobject_cast<const QLabel*>(&control)) {
    return label->fontMetrics().horizontalAdvance(label->text());
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

void DialogUnits::apply(QWidget& form) const {
  for (QWidget* child : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!child->isWindow()) child->setGeometry(toPixels(formUnits(child->geometry())));
  }
  const QRect size = toPixels(QRect(QPoint(0, 0), formUnits(form.geometry()).size()));
  form.setFixedSize(size.size());
}

}  // namespace rigbench
