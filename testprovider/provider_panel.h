// The logic of the main dialog, without widgets: connecting, registering,
// the poll that fetches messages from libzemlink.so, showing and counting
// them, building and sending answers, the reactions of the completion
// panel's controls, and the output log. It reaches its window only through
// a PanelView, so the dialog, the tests and the headless mode drive the same
// object. Everything runs on the thread that owns it; the poll is a timer on
// that thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "testprovider/answer_rules.h"
#include "testprovider/control_transfer.h"
#include "testprovider/output_log.h"
#include "testprovider/panel_members.h"
#include "testprovider/panel_view.h"
#include "zemlink.h"

namespace rigbench {

class ProviderPanel : public QObject {
  Q_OBJECT

 public:
  static constexpr int kPollPeriodMs = 2;

  // `programName` titles the message boxes.
  ProviderPanel(PanelView& view, QString programName, QObject* parent = nullptr);
  ~ProviderPanel() override;

  // Sets the controls up as the dialog opens.
  void initialise();

  // "Connect to Server": true when the library took the address.
  bool connectToServer();
  // The register button: registers when not registered, de-registers
  // otherwise. True when the library accepted the request.
  bool registerOrDeregister();
  // "Cancel", Escape and the close box: the library ends its work and the
  // poll stops. No de-registration of its own is sent.
  void end();

  // One tick of the poll: at most one message is fetched and handled. True
  // when one was.
  bool pollTick();
  // What the poll timer runs: one tick in the window; in the headless mode,
  // with takeAllPerWake set, ticks until no message is waiting (at most
  // kMaxMessagesPerWake, so that the program's other timers still run).
  void pollWake();
  void setTakeAllPerWake(bool all) { takeAllPerWake_ = all; }
  static constexpr int kMaxMessagesPerWake = 1000;
  bool isPolling() const { return pollTimer_.isActive(); }

  // "Manual Response", and the automatic answer to a request.
  void sendAnswer();

  // The completion panel's controls, after the operator clicked them.
  void returnParameterClicked(int index);  // 0 for "Return Parameter 1"
  void toggleClicked();
  void specialFeatureChosen(const QString& entry);
  void automaticClicked();
  void echoClicked();
  void dontShowClicked();
  void logToFileClicked();

  // The counters' buttons.
  void refreshInfos();
  void refreshRequests();
  void resetInfos();
  void resetRequests();

  // The two transfers.
  bool readWindow();
  void refreshWindow();

  const PanelMembers& members() const { return m_; }
  const OutputLog& outputLog() const { return log_; }

  // Replaces the window's reaction to an error event (auto reconnect or
  // "Server Shutdown!"); the poll stops either way. The headless mode
  // registers again on a schedule of its own.
  void setErrorReaction(std::function<void()> reaction) { errorReaction_ = std::move(reaction); }

 signals:
  // A provider status event (23 registered, 24 de-registered, or another).
  void statusEvent(int status);
  void errorEvent();

 private:
  void startPoll() { pollTimer_.start(); }
  void stopPoll() { pollTimer_.stop(); }
  void tell(const QString& text, const QString& caption = QString());

  void handleRequest(ZemContainerHandle message);
  void handleInfo(ZemContainerHandle message);
  void handleStatus(int status);
  void handleError();
  void showMessage(ZemContainerHandle message);
  void addItem(ZemContainerHandle answer, const QString& text, bool& first);
  void applyRules(int index);

  PanelView& view_;
  QString programName_;
  ControlTransfer transfer_;
  PanelMembers m_;
  OutputLog log_;
  RandomDraw random_;
  QTimer pollTimer_;
  std::function<void()> errorReaction_;
  // Message boxes open now: the poll waits while the operator reads one.
  int openMessages_ = 0;
  bool takeAllPerWake_ = false;
};

}  // namespace rigbench
