// The ids of the main dialog's controls. Every control keeps its id in its
// object name: a kind prefix followed by the number ("edit1021",
// "button1005", "check1069", "combo1081", "label1008"), so tests, the
// headless control table and people find the same control by the same id.
#pragma once

#include <array>

namespace rigbench {

enum ControlId : int {
  // Registration panel
  kServerAddressEdit = 1021,
  kConnectButton = 1023,
  kRegistrationIdLabel = 1003,
  kRegistrationIdEdit = 1004,
  kRegisterButton = 1005,
  kFailedToRegisterLabel = 1008,

  // Request data
  kDontShowCheck = 1069,
  kReceivedServerRequestIdEdit = 1017,
  kCallIdEdit = 1071,
  kHeldCallIdEdit = 1072,
  kNetworkCallIdEdit = 1073,
  kNodeIdEdit = 1074,
  kInfosShownEdit = 1087,
  kRequestsShownEdit = 1088,
  kResponseFailuresEdit = 1092,
  kRefreshInfosButton = 1089,
  kRefreshRequestsButton = 1090,
  kResetInfosButton = 1093,
  kResetRequestsButton = 1094,
  kAutoReconnectCheck = 1096,
  kLogToFileCheck = 1097,

  // Completion data
  kEchoCheck = 1095,
  kUseLastSetCheck = 1070,
  kAutoIncrementCheck = 1075,
  kToggleValueEdit = 1019,
  kToggleCheck = 1077,
  kSpecialFeatureCombo = 1081,
  kRangeFromLabel = 1085,
  kRangeFromEdit = 1083,
  kRangeToLabel = 1086,
  kRangeToEdit = 1084,
  kAnswerServerRequestIdEdit = 1018,
  kAutomaticCheck = 1016,
  kManualResponseButton = 1007,
  kHelpButton = 1098,
};

constexpr int kParameterCount = 10;

// "1st" ... "10th" of the request data panel.
constexpr std::array<int, kParameterCount> kReceivedParameterEdits = {1001, 1009, 1010, 1002, 1039,
                                                                      1040, 1041, 1042, 1043, 1044};
// Return parameters 1 ... 10 and their "Return Parameter N" check boxes.
constexpr std::array<int, kParameterCount> kReturnParameterEdits = {1006, 1012, 1013, 1055, 1057,
                                                                    1059, 1061, 1063, 1065, 1067};
constexpr std::array<int, kParameterCount> kReturnParameterChecks = {1011, 1014, 1015, 1056, 1058,
                                                                     1060, 1062, 1064, 1066, 1068};

// The entries of the generated-value combo box, in the order its sorted list shows them.
inline constexpr const char* kFeatureNone = "None";
inline constexpr const char* kFeatureRandomNumber = "Random Number";
inline constexpr const char* kFeatureRandomString = "Random String";
inline constexpr const char* kFeatureTimestamp = "Timestamp";

}  // namespace rigbench
