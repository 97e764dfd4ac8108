#include "testprovider/provider_panel.h"

#include <ctime>

#include "testprovider/decimal_text.h"
#include "testprovider/library_text.h"

namespace rigbench {
namespace {

constexpr int kRangeControls[] = {kRangeFromLabel, kRangeFromEdit, kRangeToLabel, kRangeToEdit};

// Reads the ten items of a message: the first, then nine next ones; a
// missing item reads as empty.
std::array<QString, kParameterCount> readItems(ZemContainerHandle message) {
  std::array<QString, kParameterCount> items;
  items[0] = fromLibraryText(Zem_getFirstItem(message));
  for (int k = 1; k < kParameterCount; ++k) items[k] = fromLibraryText(Zem_getNextItem(message));
  return items;
}

}  // namespace

ProviderPanel::ProviderPanel(PanelView& view, QString programName, QObject* parent)
    : QObject(parent), view_(view), programName_(programName), transfer_(view, std::move(programName)) {
  pollTimer_.setInterval(kPollPeriodMs);
  pollTimer_.setTimerType(Qt::PreciseTimer);
  connect(&pollTimer_, &QTimer::timeout, this, &ProviderPanel::pollWake);
}

ProviderPanel::~ProviderPanel() = default;

void ProviderPanel::initialise() {
  refreshWindow();
  // The states the dialog opens with.
  view_.setEnabled(kRegisterButton, false);
  view_.setText(kRegisterButton, QStringLiteral("register"));
  view_.setShown(kFailedToRegisterLabel, false);
  for (int id : kRangeControls) view_.setShown(id, false);
  for (int id : {int{kReturnParameterEdits[0]}, int{kReturnParameterEdits[1]}, int{kReturnParameterEdits[2]},
                 int{kToggleValueEdit}, int{kToggleCheck}, int{kSpecialFeatureCombo}, int{kAutoIncrementCheck}}) {
    view_.setEnabled(id, false);
  }
  view_.setText(kSpecialFeatureCombo, QString::fromLatin1(kFeatureNone));
  random_.seed(std::time(nullptr));
  m_.infosShown = m_.requestsShown = m_.responseFailures = 0;
  for (int id : kReturnParameterEdits) view_.setTextLimit(id, kMaxItemCharacters);
  view_.setTextLimit(kRegistrationIdEdit, 10);
}

// ---- Transfers and messages ------------------------------------------------

bool ProviderPanel::readWindow() {
  ++openMessages_;  // a refused field opens a message box
  const bool complete = transfer_.read(m_);
  --openMessages_;
  return complete;
}

void ProviderPanel::refreshWindow() { transfer_.refresh(m_); }

void ProviderPanel::tell(const QString& text, const QString& caption) {
  ++openMessages_;
  view_.messageBox(caption.isEmpty() ? programName_ : caption, text);
  --openMessages_;
}

// ---- Registration panel ----------------------------------------------------

bool ProviderPanel::connectToServer() {
  readWindow();
  stopPoll();
  m_.registered = false;
  view_.setText(kRegisterButton, QStringLiteral("Register"));
  view_.setEnabled(kRegisterButton, false);
  const QByteArray firstArgument = toLibraryText(m_.firstInitArgument);
  const QByteArray address = toLibraryText(m_.serverAddress);
  if (ZemlinkInit(0, const_cast<char*>(firstArgument.constData()), address.constData()) == ZEM_SUCCESS) {
    view_.setEnabled(kRegisterButton, true);
    return true;
  }
  tell(QStringLiteral("Unable to connect"));
  return false;
}

bool ProviderPanel::registerOrDeregister() {
  if (m_.registered) {
    if (Zem_DeRegisterProvider() == ZEM_SUCCESS) return true;
    tell(QStringLiteral("de-register FAIL"));
    return false;
  }
  if (!parseDecimal(view_.text(kRegistrationIdEdit), 1, kMaxIdentifier)) {
    tell(QStringLiteral("Incorrect Registration ID"));
    return false;
  }
  readWindow();
  if (Zem_RegisterProvider(static_cast<uint32_t>(m_.registrationId)) == ZEM_SUCCESS) {
    startPoll();
    return true;
  }
  tell(QStringLiteral("register FAIL"));
  return false;
}

void ProviderPanel::end() {
  ZemlinkDeInit();
  stopPoll();
}

// ---- Poll ------------------------------------------------------------------

void ProviderPanel::pollWake() {
  const int most = takeAllPerWake_ ? kMaxMessagesPerWake : 1;
  for (int taken = 0; taken < most; ++taken) {
    if (!pollTick() || !isPolling()) return;
  }
}

bool ProviderPanel::pollTick() {
  if (openMessages_ > 0) return false;
  ZemContainerHandle message = 0;
  const int32_t result = Zem_GetEvent(ZEM_EVENT_POLL, &message);
  if (result == ZEM_NO_EVENT) return false;
  if (result != ZEM_SUCCESS) {
    stopPoll();
    tell(QStringLiteral("BAD EVENT"), QStringLiteral("PROBLEM"));
    return false;
  }
  m_.callId = Zem_getCallID(message);
  m_.heldCallId = Zem_getHeldCallID(message);
  m_.networkCallId = Zem_getNetworkCallID(message);
  m_.nodeId = Zem_getNodeID(message);
  switch (Zem_getMessageType(message)) {
    case ZEM_MSG_REQUEST:
      handleRequest(message);
      break;
    case ZEM_MSG_INFO:
      handleInfo(message);
      break;
    case ZEM_MSG_PROVIDER_STATUS:
      handleStatus(Zem_getStatus(message));
      break;
    case ZEM_MSG_ERROR:
      handleError();
      break;
    default:
      break;
  }
  Zem_destroyDataContainer(message);
  return true;
}

void ProviderPanel::handleRequest(ZemContainerHandle message) {
  if (m_.echo) m_.returnValues = readItems(message);
  if (!m_.dontShow) showMessage(message);
  const uint32_t serverId = static_cast<uint32_t>(Zem_getServerID(message));
  m_.receivedServerRequestId = m_.answerServerRequestId = serverId;
  view_.setText(kReceivedServerRequestIdEdit, QString::number(serverId));
  view_.setText(kAnswerServerRequestIdEdit, QString::number(serverId));
  readWindow();
  if (m_.automatic) sendAnswer();
  ++m_.requestsReceived;
}

void ProviderPanel::handleInfo(ZemContainerHandle message) {
  if (!m_.dontShow) showMessage(message);
  readWindow();
  ++m_.infosReceived;
}

void ProviderPanel::handleStatus(int status) {
  if (status == ZEM_STATUS_REGISTERED) {
    m_.registered = true;
    view_.setShown(kFailedToRegisterLabel, false);
    view_.setText(kRegisterButton, QStringLiteral("UnRegister"));
    for (int id : kReceivedParameterEdits) view_.setText(id, QStringLiteral(" "));
    m_.callId = m_.heldCallId = m_.networkCallId = m_.nodeId = 0;
    m_.receivedServerRequestId = m_.answerServerRequestId = 0;
    for (int id : {kCallIdEdit, kHeldCallIdEdit, kNetworkCallIdEdit, kNodeIdEdit, kReceivedServerRequestIdEdit,
                   kAnswerServerRequestIdEdit}) {
      view_.setText(id, QStringLiteral("0"));
    }
  } else if (status == ZEM_STATUS_DEREGISTERED) {
    m_.registered = false;
    view_.setText(kRegisterButton, QStringLiteral("Register"));
  } else {
    m_.registered = false;
    view_.setShown(kFailedToRegisterLabel, true);
  }
  emit statusEvent(status);
}

void ProviderPanel::handleError() {
  stopPoll();
  emit errorEvent();
  if (errorReaction_) {
    errorReaction_();
  } else if (view_.isChecked(kAutoReconnectCheck)) {
    // The box as the operator sees it: checking it takes effect at once,
    // not only after the window was next read.
    connectToServer();
    registerOrDeregister();
  } else {
    tell(QStringLiteral("Server Shutdown!"));
  }
}

void ProviderPanel::showMessage(ZemContainerHandle message) {
  const bool logging = m_.logToFile;
  if (logging) log_.writeHeader(m_.callId, m_.heldCallId, m_.networkCallId, m_.nodeId);
  const std::array<QString, kParameterCount> items = readItems(message);
  for (int k = 0; k < kParameterCount; ++k) {
    view_.setText(kReceivedParameterEdits[k], items[k]);
    if (logging) log_.writeParameter(k + 1, items[k]);
  }
  view_.setText(kCallIdEdit, QString::number(m_.callId));
  view_.setText(kHeldCallIdEdit, QString::number(m_.heldCallId));
  view_.setText(kNetworkCallIdEdit, QString::number(m_.networkCallId));
  view_.setText(kNodeIdEdit, QString::number(m_.nodeId));
}

// ---- Answers ---------------------------------------------------------------

void ProviderPanel::addItem(ZemContainerHandle answer, const QString& text, bool& first) {
  const QByteArray narrow = toLibraryText(text);
  if (first) {
    Zem_setFirstItem(answer, narrow.constData());
    first = false;
  } else {
    Zem_setNextItem(answer, narrow.constData());
  }
}

void ProviderPanel::sendAnswer() {
  // The answer has a handle of its own: the request being handled keeps
  // its handle and is released after this returns.
  ZemContainerHandle answer = Zem_createDataContainer();
  if (answer == 0) return;
  Zem_setMessageType(answer, ZEM_MSG_COMPLETION);
  bool first = true;
  if (m_.echo) {
    for (const QString& value : m_.returnValues) addItem(answer, value, first);
  } else if (m_.useLastSet) {
    for (const QString& value : m_.returnValues) {
      if (!value.isEmpty()) addItem(answer, value, first);
    }
  } else {
    m_.returnValues = {};
    readWindow();
    for (int k = 0; k < kParameterCount; ++k) {
      if (!m_.sendParameters[k]) continue;
      m_.returnValues[k] = m_.returnParameters[k].left(kMaxItemCharacters);
      applyRules(k);
      addItem(answer, m_.returnValues[k], first);
    }
  }
  Zem_setServerID(answer, static_cast<int32_t>(m_.answerServerRequestId));
  if (Zem_SendServiceComplete(&answer) != ZEM_SUCCESS) {
    ++m_.responseFailures;
    view_.setText(kResponseFailuresEdit, QString::number(m_.responseFailures));
  }
  Zem_destroyDataContainer(answer);
}

void ProviderPanel::applyRules(int index) {
  QString& value = m_.returnValues[index];
  if (index == 0 && m_.autoIncrement) {
    value = QString::number(incrementedValue(value));
    m_.returnParameters[0] = value;
    refreshWindow();
  } else if (index == 1 && m_.toggle) {
    if (!m_.togglePhase) value = m_.toggleValue.left(kMaxItemCharacters);
    m_.togglePhase = !m_.togglePhase;
  } else if (index == 2 && m_.specialFeature == QLatin1String(kFeatureRandomNumber)) {
    if (m_.rangeTo < m_.rangeFrom) {
      m_.rangeTo = kMaxIdentifier;
      refreshWindow();
    }
    value = QString::number(randomInRange(m_.rangeFrom, m_.rangeTo, random_.next()));
  } else if (index == 2 && m_.specialFeature == QLatin1String(kFeatureTimestamp)) {
    value = timestampText(std::time(nullptr));
  }
}

// ---- Completion panel controls ---------------------------------------------

void ProviderPanel::returnParameterClicked(int index) {
  const bool checked = view_.isChecked(kReturnParameterChecks[index]);
  if (index == 0) {
    view_.setEnabled(kReturnParameterEdits[0], checked);
    view_.setEnabled(kAutoIncrementCheck, checked);
  } else if (index == 1) {
    view_.setEnabled(kReturnParameterEdits[1], checked);
    view_.setEnabled(kToggleCheck, checked);
    view_.setEnabled(kToggleValueEdit, false);
  } else if (index == 2) {
    view_.setEnabled(kReturnParameterEdits[2], checked);
    view_.setEnabled(kSpecialFeatureCombo, checked);
    if (!checked) {
      view_.setText(kSpecialFeatureCombo, QString::fromLatin1(kFeatureNone));
      for (int id : kRangeControls) view_.setShown(id, false);
      m_.specialFeature = QString::fromLatin1(kFeatureNone);
    }
  }
}

void ProviderPanel::toggleClicked() { view_.setEnabled(kToggleValueEdit, view_.isChecked(kToggleCheck)); }

void ProviderPanel::specialFeatureChosen(const QString& entry) {
  m_.specialFeature = entry;
  const bool randomNumber = entry == QLatin1String(kFeatureRandomNumber);
  view_.setEnabled(kReturnParameterEdits[2], entry == QLatin1String(kFeatureNone));
  for (int id : kRangeControls) view_.setShown(id, randomNumber);
  if (randomNumber) {
    // Only the two range fields change: whatever else the operator typed
    // stays in the window.
    m_.rangeFrom = 0;
    m_.rangeTo = kMaxIdentifier;
    view_.setText(kRangeFromEdit, QString::number(m_.rangeFrom));
    view_.setText(kRangeToEdit, QString::number(m_.rangeTo));
  }
}

void ProviderPanel::automaticClicked() {
  view_.setEnabled(kAnswerServerRequestIdEdit, !view_.isChecked(kAutomaticCheck));
}

void ProviderPanel::echoClicked() {
  const bool echo = view_.isChecked(kEchoCheck);
  view_.setEnabled(kUseLastSetCheck, !echo);
  for (int id : kReturnParameterChecks) view_.setEnabled(id, !echo);
  view_.setEnabled(kAutoIncrementCheck, !echo);
  view_.setEnabled(kAutomaticCheck, !echo);
  if (echo) view_.setChecked(kAutomaticCheck, true);
  readWindow();
}

void ProviderPanel::dontShowClicked() { readWindow(); }

void ProviderPanel::logToFileClicked() {
  if (log_.openOnce()) {
    tell(QStringLiteral("Cannot open %1: %2").arg(QString::fromLatin1(OutputLog::kFileName), log_.failure()));
  }
  readWindow();
}

// ---- Counters --------------------------------------------------------------

void ProviderPanel::refreshInfos() {
  m_.infosShown = m_.infosReceived;
  view_.setText(kInfosShownEdit, QString::number(m_.infosShown));
}

void ProviderPanel::refreshRequests() {
  m_.requestsShown = m_.requestsReceived;
  view_.setText(kRequestsShownEdit, QString::number(m_.requestsShown));
}

void ProviderPanel::resetInfos() {
  m_.infosReceived = m_.infosShown = 0;
  view_.setText(kInfosShownEdit, QStringLiteral("0"));
}

void ProviderPanel::resetRequests() {
  m_.requestsReceived = m_.requestsShown = 0;
  view_.setText(kRequestsShownEdit, QStringLiteral("0"));
}

}  // namespace rigbench
