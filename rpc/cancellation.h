// Lets one thread abort another thread's remote call.
//
// A caller hands a Cancellation to the calls it may want to stop; cancel()
// from any other thread closes the connection that the call in flight is
// using, so a call held long by the server returns Cancelled at once. A
// cancelled token fails every later call at once, until reset().
#pragma once

#include <mutex>

namespace rpc {

class TcpSocket;

class Cancellation {
 public:
  void cancel();
  void reset();
  bool cancelled() const;

  // Used by the runtime: the socket of the call in flight. attach() is false
  // when the token is already cancelled.
  bool attach(TcpSocket* socket);
  void detach();

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  TcpSocket* active_ = nullptr;
};

}  // namespace rpc
