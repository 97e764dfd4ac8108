// A window without a display: the state of every control kept in a table,
// and the message boxes kept as a list. Tests drive the panel logic through
// it, and the headless mode runs on it.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

#include "testprovider/panel_view.h"

namespace rigbench {

class ControlTable : public PanelView {
 public:
  struct Message {
    QString caption;
    QString text;
    int control = 0;  // the refused field of a validation message, 0 otherwise
  };

  QString text(int id) const override { return state(id).text; }
  void setText(int id, const QString& text) override;
  bool isChecked(int id) const override { return state(id).checked; }
  void setChecked(int id, bool checked) override { controls_[id].checked = checked; }
  bool isEnabled(int id) const override { return state(id).enabled; }
  void setEnabled(int id, bool enabled) override { controls_[id].enabled = enabled; }
  bool isShown(int id) const override { return state(id).shown; }
  void setShown(int id, bool shown) override { controls_[id].shown = shown; }
  void setTextLimit(int id, int characters) override { controls_[id].limit = characters; }

  void messageBox(const QString& caption, const QString& text) override;
  void validationFailed(int id, const QString& caption, const QString& text) override;

  // The messages shown so far, oldest first; takeMessages empties the list.
  const std::vector<Message>& messages() const { return messages_; }
  std::vector<Message> takeMessages();
  // Called for every message as it is shown (the headless mode prints them).
  void onMessage(std::function<void(const Message&)> observer) { observer_ = std::move(observer); }

 private:
  struct Control {
    QString text;
    bool checked = false;
    bool enabled = true;
    bool shown = true;
    int limit = -1;
  };
  const Control& state(int id) const;

  std::map<int, Control> controls_;
  std::vector<Message> messages_;
  std::function<void(const Message&)> observer_;
};

}  // namespace rigbench
