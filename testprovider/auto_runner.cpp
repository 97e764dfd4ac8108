#include "testprovider/auto_runner.h"

namespace rigbench {

AutoRunner::AutoRunner(AutoOptions options, QString programName, std::FILE* out, QObject* parent)
    : QObject(parent), options_(std::move(options)), out_(out), panel_(table_, std::move(programName)) {
  table_.onMessage([this](const ControlTable::Message& message) { print(message.caption + QStringLiteral(": ") + message.text); });
  panel_.setErrorReaction([this] { connectionLost(); });
  connect(&panel_, &ProviderPanel::statusEvent, this, [this](int status) {
    print(QStringLiteral("status %1 (%2)").arg(status).arg(status == 23   ? QStringLiteral("registered")
                                                            : status == 24 ? QStringLiteral("de-registered")
                                                                           : QStringLiteral("failed to register")));
    if (stopping_ && status == 24) finish();
  });
  reportTimer_.setInterval(kReportPeriodMs);
  connect(&reportTimer_, &QTimer::timeout, this, &AutoRunner::report);
  retryTimer_.setSingleShot(true);
  connect(&retryTimer_, &QTimer::timeout, this, &AutoRunner::attempt);
  stopTimer_.setSingleShot(true);
  connect(&stopTimer_, &QTimer::timeout, this, &AutoRunner::stop);
  deRegistrationTimer_.setSingleShot(true);
  deRegistrationTimer_.setInterval(kDeRegistrationWaitMs);
  connect(&deRegistrationTimer_, &QTimer::timeout, this, &AutoRunner::finish);
}

void AutoRunner::print(const QString& line) {
  std::fprintf(out_, "%s\n", line.toLocal8Bit().constData());
  std::fflush(out_);
}

// Types into the table what an operator would type into the window, and
// clicks what they would click.
void AutoRunner::configure() {
  panel_.initialise();
  table_.setText(kServerAddressEdit, options_.server);
  table_.setText(kRegistrationIdEdit, options_.id);
  table_.setChecked(kAutomaticCheck, true);
  panel_.automaticClicked();
  // The rules of parameters 1 to 3 act on a parameter that is sent, so each
  // option checks its parameter's box, which starts empty as in the window.
  const auto sendParameter = [this](int k) {
    if (table_.isChecked(kReturnParameterChecks[k - 1])) return;
    table_.setChecked(kReturnParameterChecks[k - 1], true);
    panel_.returnParameterClicked(k - 1);
  };
  for (const auto& [k, text] : options_.parameters) {
    sendParameter(k);
    table_.setText(kReturnParameterEdits[k - 1], text);
  }
  if (options_.increment) {
    sendParameter(1);
    table_.setChecked(kAutoIncrementCheck, true);
  }
  if (options_.toggle) {
    sendParameter(2);
    table_.setChecked(kToggleCheck, true);
    panel_.toggleClicked();
    table_.setText(kToggleValueEdit, options_.toggleValue);
  }
  if (!options_.special.isEmpty()) {
    sendParameter(3);
    table_.setText(kSpecialFeatureCombo, options_.special);
    panel_.specialFeatureChosen(options_.special);
  }
  if (!options_.rangeFrom.isEmpty()) {
    table_.setText(kRangeFromEdit, options_.rangeFrom);
    table_.setText(kRangeToEdit, options_.rangeTo);
  }
  if (options_.echo) {
    table_.setChecked(kEchoCheck, true);
    panel_.echoClicked();
  }
  if (options_.log) {
    table_.setChecked(kLogToFileCheck, true);
    panel_.logToFileClicked();
  }
}

bool AutoRunner::start() {
  configure();
  if (!panel_.connectToServer() || !panel_.registerOrDeregister()) return false;
  print(QStringLiteral("registering as provider %1 with %2").arg(options_.id, options_.server));
  reportTimer_.start();
  if (options_.seconds > 0) stopTimer_.start(static_cast<int>(options_.seconds * 1000));
  return true;
}

void AutoRunner::report() {
  const PanelMembers& m = panel_.members();
  print(QStringLiteral("%1 s: %2 requests, %3 informational, %4 refused completions, %5 error events")
            .arg(++seconds_)
            .arg(m.requestsReceived)
            .arg(m.infosReceived)
            .arg(m.responseFailures)
            .arg(errorEvents_));
}

void AutoRunner::connectionLost() {
  ++errorEvents_;
  print(QStringLiteral("error event: the connection was lost"));
  if (stopping_) return;
  const int pause = backoff_.next();
  print(QStringLiteral("registering again in %1 s (attempt %2)").arg(pause / 1000).arg(attempts_ + 1));
  retryTimer_.start(pause);
}

void AutoRunner::attempt() {
  ++attempts_;
  print(QStringLiteral("attempt %1: connecting and registering").arg(attempts_));
  if (panel_.connectToServer() && panel_.registerOrDeregister()) {
    print(QStringLiteral("attempt %1: registration accepted").arg(attempts_));
    attempts_ = 0;
    backoff_.reset();
    return;
  }
  const int pause = backoff_.next();
  print(QStringLiteral("registering again in %1 s (attempt %2)").arg(pause / 1000).arg(attempts_ + 1));
  retryTimer_.start(pause);
}

void AutoRunner::stop() {
  if (stopping_) return;
  stopping_ = true;
  retryTimer_.stop();
  stopTimer_.stop();
  if (panel_.members().registered && panel_.isPolling() && panel_.registerOrDeregister()) {
    print(QStringLiteral("de-registering"));
    deRegistrationTimer_.start();  // the poll brings the confirmation, or the wait ends
    return;
  }
  finish();
}

void AutoRunner::finish() {
  if (finished_) return;
  finished_ = true;
  deRegistrationTimer_.stop();
  reportTimer_.stop();
  panel_.end();
  const PanelMembers& m = panel_.members();
  print(QStringLiteral("served %1 requests and %2 informational messages; %3 error events, %4 refused completions")
            .arg(m.requestsReceived)
            .arg(m.infosReceived)
            .arg(errorEvents_)
            .arg(m.responseFailures));
  emit finished(0);
}

}  // namespace rigbench
