// clZemlink: the provider object. The process holds one, built when
// libzemlink.so is loaded and destroyed when it is unloaded; the provider
// exports (provider_exports.cpp) all work on it.
//
// It binds to the data-exchange server, registers the application as a
// provider, and runs two threads of its own: the message pump fetches
// messages into the request queue, from which getEvent hands them to the
// application, and the keep-alive thread keeps the registration alive and
// follows the queue limit in the settings store. Failures seen by the
// threads reach the application as error events in the queue; registrations
// and de-registrations as status events.
//
// Locks:
//   m_Guard        the provider lock (recursive): registration,
//                  de-registration, getEvent and sendCompletion, and the
//                  pump's re-registration. getEvent gives it up while it
//                  waits for a message.
//   bindMutex_     serialises initializeComm and deInitializeComm with each
//                  other; it may be held while m_Guard is taken, never the
//                  other way round.
//   threadsMutex_  the thread objects; innermost.
// The provider threads read the state fields as atomic values, once a cycle,
// and never take m_Guard except for the pump's re-registration.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "container/container_runtime.h"
#include "container/osprel_guard.h"
#include "provider/exchange/exchange_client.h"
#include "provider/provider_thread.h"
#include "provider/provider_timings.h"
#include "provider/request_queue.h"
#include "provider/trace_debug.h"
#include "zemlink.h"

class clZemlink {
 public:
  // The provider works with the containers of the given runtime. The first
  // provider built while none is current becomes the current one, which the
  // exports use.
  explicit clZemlink(zem::ContainerRuntime& containers, ProviderTimings timings = {},
                     rpc::ClientOptions clientOptions = {});
  // The unload: de-registers, then stops and joins both threads, and
  // destroys what is still queued.
  ~clZemlink();
  clZemlink(const clZemlink&) = delete;
  clZemlink& operator=(const clZemlink&) = delete;

  static clZemlink* current();

  // The operations behind the exports; each returns a ZEM_ result code.
  int32_t initializeComm(int32_t reserved, const char* serverAddress);
  int32_t deInitializeComm();
  int32_t registerProvider(uint32_t providerId);
  int32_t deRegisterProvider();
  int32_t getEvent(int32_t mode, ZemContainerHandle* handleOut);
  int32_t sendCompletion(const ZemContainerHandle* handleRef);
  // Zem_ResponseReceived and Zem_InfoReceived: no lock, no provider state.
  int32_t releaseContainer(ZemContainerHandle* handleRef);

  // For tests and tools: the trace facade, the queue, and the state.
  TraceDebug& traceFacade() { return m_Trace; }
  const RequestQueue& queue() const { return m_Queue; }
  int32_t providerId() const { return m_ProviderId.load(); }
  bool serverConnected() const { return m_ServerConnected.load(); }
  bool initialized() const { return m_Initialized.load(); }
  int32_t queueLimit() const { return m_MaxQueue.load(); }
  bool hasMessagePump() const;
  std::string bindingText() const { return m_Binding.bindingText(); }

 private:
  // The server context of the registration, read and written whole.
  class ContextCell {
   public:
    ProviderContext get() const;
    void set(const ProviderContext& context);

   private:
    mutable std::mutex mutex_;
    ProviderContext value_{};
  };

  // Registration and de-registration with m_Guard held. The server calls
  // can be cancelled, and bounded to timeLimitMs (0: no limit).
  int32_t registerLocked(uint32_t providerId, rpc::Cancellation* cancel = nullptr, int timeLimitMs = 0);
  int32_t deRegisterLocked(rpc::Cancellation* cancel = nullptr, int timeLimitMs = 0);

  // Threads. startMessagePump (false when a pump exists) and startKeepAlive
  // throw std::system_error when the thread cannot be made;
  // ensureMessagePump starts a pump when there is none and writes
  // createdLine, or the failure, to the trace.
  bool ensureMessagePump(const char* createdLine);
  bool startMessagePump();
  void startKeepAlive();
  // Stops the pump unless the calling thread is the pump; true when it did.
  bool retireMessagePump();
  void stopAllThreads();
  void providerMsgThread(ProviderThread& self);
  void providerKeepAliveThread(ProviderThread& self);
  void handleFetchedMessage(ProviderThread& self, const MessageRecord& record, const MessageData& data);
  void reRegister(ProviderThread& self);
  void followQueueLimit();
  void reportKeepAliveFailure();

  // A status or error event for the application: a new container with the
  // type and status, or 0 when none could be made.
  ZemContainerHandle makeEvent(int32_t messageType, int32_t status);
  // Appends a filled container to the queue. From a provider thread it is
  // appended only unless that thread was stopped, and destroyed otherwise.
  // True when it was queued.
  bool publish(ZemContainerHandle handle, ProviderThread* from = nullptr);
  void emptyQueue();
  // Forgets the registration's context without telling the server.
  void dropContext();

  // Trace lines at level 2: trace() always hands the line over, traceOn()
  // builds and hands it over only while m_TraceOn.
  void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void traceOn(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void traceLine(const char* format, va_list arguments);

  // The fields of the provider object.
  std::atomic<int32_t> m_ProviderId{-1};
  std::atomic<bool> m_Initialized{false};
  std::atomic<bool> m_ServerConnected{false};
  zem::Osprel_clGuard m_Guard;
  ContextCell m_Context;
  std::unique_ptr<ProviderThread> m_MsgThread;        // guarded by threadsMutex_
  std::unique_ptr<ProviderThread> m_KeepAliveThread;  // guarded by threadsMutex_
  std::atomic<bool> m_TraceOn{false};
  RequestQueue m_Queue;
  TraceDebug m_Trace;
  char m_LoggerName[51] = {};  // written under bindMutex_
  std::atomic<int32_t> m_MaxQueue;

  // What the process holds beside the object: the binding and its client.
  ExchangeClient m_Binding;

  zem::ContainerRuntime& containers_;
  const ProviderTimings timings_;
  std::mutex bindMutex_;
  mutable std::mutex threadsMutex_;
  // Pumps stopped by a de-registration: they end on their own and are
  // joined when the next pump starts, or at the end.
  std::vector<std::unique_ptr<ProviderThread>> retiredPumps_;
};
