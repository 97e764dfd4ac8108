// The headless mode: the provider panel on a control table, set up from the
// command line as an operator would set up the window, answering every
// request automatically. It prints its counts once a second and every
// message the window would have shown; after a lost connection it registers
// again, pausing 1 s, 2 s, 4 s ... up to 10 s between attempts until one
// is accepted. On stop() (SIGINT, SIGTERM or the time limit) it
// de-registers, waits briefly for the library to confirm, and ends.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdio>

#include "testprovider/command_line.h"
#include "testprovider/control_table.h"
#include "testprovider/provider_panel.h"
#include "testprovider/reconnect_backoff.h"

namespace rigbench {

class AutoRunner : public QObject {
  Q_OBJECT

 public:
  static constexpr int kReportPeriodMs = 1000;
  static constexpr int kDeRegistrationWaitMs = 3000;

  AutoRunner(AutoOptions options, QString programName, std::FILE* out, QObject* parent = nullptr);

  // Connects and registers. False (after printing why) when either was
  // refused; the program then ends with status 1.
  bool start();
  void stop();

 signals:
  void finished(int exitCode);

 private:
  void configure();
  void report();
  void connectionLost();
  void attempt();
  void finish();
  void print(const QString& line);

  AutoOptions options_;
  std::FILE* out_;
  ControlTable table_;
  ProviderPanel panel_;
  ReconnectBackoff backoff_;
  QTimer reportTimer_;
  QTimer retryTimer_;
  QTimer stopTimer_;
  QTimer deRegistrationTimer_;
  int errorEvents_ = 0;
  int attempts_ = 0;
  int seconds_ = 0;
  bool stopping_ = false;
  bool finished_ = false;
};

}  // namespace rigbench
