// The PanelView of a real window: each control found by the id in its
// object name (edit1021, button1005, check1069, combo1081, label1008), and
// the operator told through modal message boxes.
#pragma once

#include <QHash>
#include <QString>

#include "testprovider/panel_view.h"

class QWidget;

namespace rigbench {

class WidgetControls : public PanelView {
 public:
  // Finds the controls among the children of `window`.
  explicit WidgetControls(QWidget& window);

  // The control with this id; null when the window has none.
  QWidget* control(int id) const { return controls_.value(id, nullptr); }
  // The id kept in a control's object name, or 0.
  static int idOf(const QString& objectName);

  QString text(int id) const override;
  void setText(int id, const QString& text) override;
  bool isChecked(int id) const override;
  void setChecked(int id, bool checked) override;
  bool isEnabled(int id) const override;
  void setEnabled(int id, bool enabled) override;
  bool isShown(int id) const override;
  void setShown(int id, bool shown) override;
  void setTextLimit(int id, int characters) override;

  void messageBox(const QString& caption, const QString& text) override;
  void validationFailed(int id, const QString& caption, const QString& text) override;

 private:
  QWidget& window_;
  QHash<int, QWidget*> controls_;
};

}  // namespace rigbench
