#include "testprovider/control_table.h"

namespace rigbench {

const ControlTable::Control& ControlTable::state(int id) const {
  static const Control untouched;
  const auto it = controls_.find(id);
  return it == controls_.end() ? untouched : it->second;
}

void ControlTable::setText(int id, const QString& text) {
  Control& control = controls_[id];
  // Like an edit with a limit, a longer text is cut.
  control.text = control.limit >= 0 ? text.left(control.limit) : text;
}

void ControlTable::messageBox(const QString& caption, const QString& text) {
  messages_.push_back({caption, text, 0});
  if (observer_) observer_(messages_.back());
}

void ControlTable::validationFailed(int id, const QString& caption, const QString& text) {
  messages_.push_back({caption, text, id});
  if (observer_) observer_(messages_.back());
}

std::vector<ControlTable::Message> ControlTable::takeMessages() {
  std::vector<Message> taken;
  taken.swap(messages_);
  return taken;
}

}  // namespace rigbench
