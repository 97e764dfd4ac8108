#include "testprovider/widget_controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>

namespace rigbench {

WidgetControls::WidgetControls(QWidget& window) : window_(window) {
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (const int id = idOf(child->objectName())) controls_.insert(id, child);
  }
}

int WidgetControls::idOf(const QString& objectName) {
  static const QRegularExpression pattern(QStringLiteral("^(?:edit|button|check|combo|label)(\\d+)$"));
  const QRegularExpressionMatch match = pattern.match(objectName);
  return match.hasMatch() ? match.captured(1).toInt() : 0;
}

QString WidgetControls::text(int id) const {
  QWidget* widget = control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* list = qobject_cast<QComboBox*>(widget)) return list->currentText();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  return QString();
}

void WidgetControls::setText(int id, const QString& text) {
  QWidget* widget = control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    // A text the edit holds already stays as the operator left it; a new one
    // is shown from its start, as it is read, not scrolled to its end.
    if (edit->text() == text) return;
    edit->setText(text);
    edit->setCursorPosition(0);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
    list->setCurrentIndex(list->findText(text));
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  }
}

bool WidgetControls::isChecked(int id) const {
  auto* button = qobject_cast<QAbstractButton*>(control(id));
  return button != nullptr && button->isChecked();
}

void WidgetControls::setChecked(int id, bool checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(control(id))) button->setChecked(checked);
}

bool WidgetControls::isEnabled(int id) const {
  QWidget* widget = control(id);
  return widget != nullptr && widget->isEnabled();
}

void WidgetControls::setEnabled(int id, bool enabled) {
  if (QWidget* widget = control(id)) widget->setEnabled(enabled);
}

bool WidgetControls::isShown(int id) const {
  QWidget* widget = control(id);
  return widget != nullptr && !widget->isHidden();
}

void WidgetControls::setShown(int id, bool shown) {
  if (QWidget* widget = control(id)) widget->setHidden(!shown);
}

void WidgetControls::setTextLimit(int id, int characters) {
  if (auto* edit = qobject_cast<QLineEdit*>(control(id))) edit->setMaxLength(characters);
}

void WidgetControls::messageBox(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, &window_);
  box.exec();
}

void WidgetControls::validationFailed(int id, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, &window_);
  box.exec();
  if (auto* edit = qobject_cast<QLineEdit*>(control(id))) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}

}  // namespace rigbench
