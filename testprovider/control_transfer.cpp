#include "testprovider/control_transfer.h"

#include <limits>

#include "testprovider/decimal_text.h"

namespace rigbench {
namespace {

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUInt32Max = std::numeric_limits<uint32_t>::max();

}  // namespace

bool ControlTransfer::readNumber(int id, int64_t min, int64_t max, int64_t& out) {
  if (const auto value = parseDecimal(view_.text(id), min, max)) {
    out = *value;
    return true;
  }
  view_.validationFailed(id, caption_,
                         QStringLiteral("Enter a whole number from %1 to %2.").arg(min).arg(max));
  return false;
}

template <typename T>
bool ControlTransfer::readInto(int id, int64_t min, int64_t max, T& member) {
  int64_t value = 0;
  if (!readNumber(id, min, max, value)) return false;
  member = static_cast<T>(value);
  return true;
}

bool ControlTransfer::read(PanelMembers& m) {
  if (!readInto(kRegistrationIdEdit, kInt32Min, kInt32Max, m.registrationId)) return false;
  for (int k = 0; k < kParameterCount; ++k) {
    m.returnParameters[k] = view_.text(kReturnParameterEdits[k]).left(kMaxItemCharacters);
  }
  for (int k = 0; k < kParameterCount; ++k) m.sendParameters[k] = view_.isChecked(kReturnParameterChecks[k]);
  m.dontShow = view_.isChecked(kDontShowCheck);
  m.useLastSet = view_.isChecked(kUseLastSetCheck);
  m.automatic = view_.isChecked(kAutomaticCheck);
  m.toggle = view_.isChecked(kToggleCheck);
  m.autoIncrement = view_.isChecked(kAutoIncrementCheck);
  m.toggleValue = view_.text(kToggleValueEdit).left(kMaxItemCharacters);
  if (!readInto(kAnswerServerRequestIdEdit, 0, kUInt32Max, m.answerServerRequestId)) return false;
  if (!readInto(kReceivedServerRequestIdEdit, 0, kUInt32Max, m.receivedServerRequestId)) return false;
  m.serverAddress = view_.text(kServerAddressEdit);
  if (!readInto(kNetworkCallIdEdit, kInt32Min, kInt32Max, m.networkCallId)) return false;
  if (!readInto(kHeldCallIdEdit, kInt32Min, kInt32Max, m.heldCallId)) return false;
  if (!readInto(kCallIdEdit, kInt32Min, kInt32Max, m.callId)) return false;
  if (!readInto(kNodeIdEdit, kInt32Min, kInt32Max, m.nodeId)) return false;
  if (!readInto(kRangeFromEdit, 0, kMaxIdentifier, m.rangeFrom)) return false;
  if (!readInto(kRangeToEdit, 0, kMaxIdentifier, m.rangeTo)) return false;
  if (!readInto(kInfosShownEdit, kInt32Min, kInt32Max, m.infosShown)) return false;
  if (!readInto(kRequestsShownEdit, kInt32Min, kInt32Max, m.requestsShown)) return false;
  if (!readInto(kResponseFailuresEdit, kInt32Min, kInt32Max, m.responseFailures)) return false;
  m.echo = view_.isChecked(kEchoCheck);
  m.autoReconnect = view_.isChecked(kAutoReconnectCheck);
  m.logToFile = view_.isChecked(kLogToFileCheck);
  return true;
}

void ControlTransfer::refresh(const PanelMembers& m) {
  view_.setText(kRegistrationIdEdit, QString::number(m.registrationId));
  for (int k = 0; k < kParameterCount; ++k) view_.setText(kReturnParameterEdits[k], m.returnParameters[k]);
  for (int k = 0; k < kParameterCount; ++k) view_.setChecked(kReturnParameterChecks[k], m.sendParameters[k]);
  view_.setChecked(kDontShowCheck, m.dontShow);
  view_.setChecked(kUseLastSetCheck, m.useLastSet);
  view_.setChecked(kAutomaticCheck, m.automatic);
  view_.setChecked(kToggleCheck, m.toggle);
  view_.setChecked(kAutoIncrementCheck, m.autoIncrement);
  view_.setText(kToggleValueEdit, m.toggleValue);
  view_.setText(kAnswerServerRequestIdEdit, QString::number(m.answerServerRequestId));
  view_.setText(kReceivedServerRequestIdEdit, QString::number(m.receivedServerRequestId));
  view_.setText(kServerAddressEdit, m.serverAddress);
  view_.setText(kNetworkCallIdEdit, QString::number(m.networkCallId));
  view_.setText(kHeldCallIdEdit, QString::number(m.heldCallId));
  view_.setText(kCallIdEdit, QString::number(m.callId));
  view_.setText(kNodeIdEdit, QString::number(m.nodeId));
  view_.setText(kRangeFromEdit, QString::number(m.rangeFrom));
  view_.setText(kRangeToEdit, QString::number(m.rangeTo));
  view_.setText(kInfosShownEdit, QString::number(m.infosShown));
  view_.setText(kRequestsShownEdit, QString::number(m.requestsShown));
  view_.setText(kResponseFailuresEdit, QString::number(m.responseFailures));
  view_.setChecked(kEchoCheck, m.echo);
  view_.setChecked(kAutoReconnectCheck, m.autoReconnect);
  view_.setChecked(kLogToFileCheck, m.logToFile);
}

}  // namespace rigbench
