// What the panel logic needs of a window: its controls, addressed by id, and
// a way to tell the operator something. The dialog implements it over its
// widgets; ControlTable implements it in memory for tests and the headless
// mode. Everything is called on the thread that owns the view.
#pragma once

#include <QString>

namespace rigbench {

class PanelView {
 public:
  virtual ~PanelView() = default;

  // Edits, labels and buttons: their text or caption; the generated-value
  // combo box: the entry it shows (setText selects an entry by its text).
  virtual QString text(int id) const = 0;
  virtual void setText(int id, const QString& text) = 0;
  virtual bool isChecked(int id) const = 0;
  virtual void setChecked(int id, bool checked) = 0;
  virtual bool isEnabled(int id) const = 0;
  virtual void setEnabled(int id, bool enabled) = 0;
  virtual bool isShown(int id) const = 0;
  virtual void setShown(int id, bool shown) = 0;
  // The most characters an edit takes.
  virtual void setTextLimit(int id, int characters) = 0;

  // A message box with an OK button; returns once the operator has seen it.
  virtual void messageBox(const QString& caption, const QString& text) = 0;
  // A numeric field refused by the transfer from the window: the message is
  // shown and the field gets the focus.
  virtual void validationFailed(int id, const QString& caption, const QString& text) = 0;
};

}  // namespace rigbench
