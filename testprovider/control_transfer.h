// The two transfers between the controls and the members: reading the
// window (every control into its member, in a fixed order, with numeric
// fields validated) and refreshing it (every member into its control).
#pragma once

#include "testprovider/panel_members.h"
#include "testprovider/panel_view.h"

namespace rigbench {

class ControlTransfer {
 public:
  // `caption` titles the validation message.
  ControlTransfer(PanelView& view, QString caption) : view_(view), caption_(std::move(caption)) {}

  // Copies the controls into the members. The first numeric field that does
  // not parse, or lies outside its range, stops the transfer with a
  // validation message; the members after it keep their values. False then.
  bool read(PanelMembers& members);
  // Copies the members into the controls.
  void refresh(const PanelMembers& members);

 private:
  bool readNumber(int id, int64_t min, int64_t max, int64_t& out);
  template <typename T>
  bool readInto(int id, int64_t min, int64_t max, T& member);

  PanelView& view_;
  QString caption_;
};

}  // namespace rigbench
