// The values the main dialog keeps besides its controls. The transfers of
// ControlTransfer copy them from and to the controls; the panel logic works
// on them.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "testprovider/control_ids.h"

namespace rigbench {

struct PanelMembers {
  // Registration panel
  QString serverAddress;
  int32_t registrationId = 0;
  bool registered = false;
  QString firstInitArgument;  // passed to ZemlinkInit; no control shows it

  // The last message shown
  int32_t callId = 0;
  int32_t heldCallId = 0;
  int32_t networkCallId = 0;
  int32_t nodeId = 0;
  uint32_t receivedServerRequestId = 0;
  uint32_t answerServerRequestId = 0;  // put into every answer

  // Completion data
  std::array<QString, kParameterCount> returnParameters;  // as typed, at most 80 characters
  std::array<bool, kParameterCount> sendParameters{};
  bool dontShow = false;
  bool useLastSet = false;
  bool automatic = false;
  bool toggle = false;
  bool autoIncrement = false;
  bool echo = false;
  bool autoReconnect = false;
  bool logToFile = false;
  QString toggleValue;
  bool togglePhase = false;  // false: the next toggled answer sends the toggle value
  QString specialFeature;    // the entry last chosen; empty acts like "None"
  int32_t rangeFrom = 0;
  int32_t rangeTo = 0;
  // The items of the last answer built, or those copied by echo.
  std::array<QString, kParameterCount> returnValues;

  // Counters
  int32_t infosReceived = 0;
  int32_t requestsReceived = 0;
  int32_t infosShown = 0;
  int32_t requestsShown = 0;
  int32_t responseFailures = 0;
};

// The longest return parameter, toggle value and item text.
constexpr int kMaxItemCharacters = 80;
// The largest registration identifier and the upper bound of the range fields.
constexpr int32_t kMaxIdentifier = 1999999999;

}  // namespace rigbench
