// "ProviderOutput.log": a plain record of every message the window shows,
// appended as UTF-16 little-endian code units without a byte-order mark or
// line-end translation. The file is opened once per run, at the first
// request, and stays open until the object goes; a file that cannot be
// opened is not tried again in that run and nothing is ever written to it.
#pragma once

#include <QString>
#include <cstdint>

namespace rigbench {

class OutputLog {
 public:
  enum class State { NotOpened, Open, Failed };
  static constexpr const char* kFileName = "ProviderOutput.log";

  OutputLog() = default;
  ~OutputLog();
  OutputLog(const OutputLog&) = delete;
  OutputLog& operator=(const OutputLog&) = delete;

  // Opens kFileName in the current directory for appending, creating it
  // when missing, unless an earlier call already opened it or failed. True
  // when this call failed to open it (the caller may tell the operator).
  bool openOnce();
  State state() const { return state_; }
  // Why the open failed, in words.
  const QString& failure() const { return failure_; }

  // The record's head: the separator line and the four identifiers.
  void writeHeader(int32_t callId, int32_t heldCallId, int32_t networkCallId, int32_t nodeId);
  // "\nParameter k = " and the text of the field just filled (k from 1).
  void writeParameter(int k, const QString& text);

 private:
  void write(const QString& text);

  State state_ = State::NotOpened;
  int fd_ = -1;
  QString failure_;
};

}  // namespace rigbench
