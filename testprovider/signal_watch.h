// SIGINT and SIGTERM as a Qt signal: the handler only writes a byte to a
// socket pair; the event loop reads it and emits stopRequested().
#pragma once

#include <QObject>

class QSocketNotifier;

namespace rigbench {

class SignalWatch : public QObject {
  Q_OBJECT

 public:
  explicit SignalWatch(QObject* parent = nullptr);
  ~SignalWatch() override;

 signals:
  void stopRequested(int signalNumber);

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace rigbench
