// The provider object's life: construction and unload, binding
// (initializeComm, deInitializeComm), registration and de-registration, the
// events they queue, and the trace lines they write.
#include "provider/zemlink_provider.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "provider/provider_settings.h"

namespace {

// The provider the exports use, and the lock that lets an export count
// itself in before the provider can go (a std::mutex is destroyed without
// a system call, so it serves until the library's last moment).
std::mutex exportsMutex;
clZemlink* currentProvider = nullptr;  // guarded by exportsMutex

constexpr const char* kLoggerName = "Tarvo_Provider";
constexpr size_t kAddressLimit = 1024;  // an address this long or longer is refused

}  // namespace

clZemlink::clZemlink(zem::ContainerRuntime& containers, ProviderTimings timings, rpc::ClientOptions clientOptions)
    // The trace flag follows a switch of "IsLogTrace" at once; the
    // keep-alive thread refreshes it as well.
    : m_Trace(timings.tracePollMs, [this](bool running) { m_TraceOn = running; }),
      m_MaxQueue(zem::kDefaultQueueLimit),
      m_FetchBurst(zem::kDefaultFetchBurst),
      m_Binding(clientOptions, timings.deadlines),
      containers_(containers),
      timings_(timings) {
  std::lock_guard<std::mutex> lock(exportsMutex);
  if (currentProvider == nullptr) currentProvider = this;
}

clZemlink::~clZemlink() {
  // No export enters from here on, and those inside are ended quickly: a
  // call to the server made under the provider lock is cancelled (the
  // pump's re-registration included), and waits for an event end. The
  // pump's fetch goes on until the de-registration below has reached the
  // server: its connection may be the registration's last.
  bool callersInside = false;
  {
    std::lock_guard<std::mutex> lock(exportsMutex);
    closing_ = true;
    callersInside = callers_ > 0;
    if (currentProvider == this) currentProvider = nullptr;
  }
  m_GuardedCall.cancel();
  m_Queue.close();
  // Nothing is freed while an application thread is still inside. The
  // longest any of them takes now is a ZemlinkDeInit in its bounded
  // de-registration.
  {
    std::unique_lock<std::mutex> lock(exportsMutex);
    callersGone_.wait(lock, [this] { return callers_ == 0; });
  }
  // A thread that counted itself out still runs the last instructions of
  // its export, in this library's code; when the unload is a dlclose, that
  // code goes away once this returns. They are left time to get out.
  if (callersInside) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  {
    std::lock_guard<zem::Osprel_clGuard> guard(m_Guard);
    m_GuardedCall.reset();
    deRegisterLocked(timings_.boundedCallMs);
  }
  m_ProviderId = -1;
  m_Initialized = false;
  dropContext();
  // The library's code goes away with the object: its threads must be gone
  // first, not merely forgotten.
  stopAllThreads();
  m_Queue.reset();
  emptyQueue();
}

clZemlink* clZemlink::current() {
  std::lock_guard<std::mutex> lock(exportsMutex);
  return currentProvider;
}

clZemlink::ExportCall::ExportCall() {
  std::lock_guard<std::mutex> lock(exportsMutex);
  if (currentProvider == nullptr || currentProvider->closing_) return;
  provider_ = currentProvider;
  ++provider_->callers_;
}

clZemlink::ExportCall::~ExportCall() {
  if (provider_ == nullptr) return;
  std::lock_guard<std::mutex> lock(exportsMutex);
  // Told while the lock is held: once it is released, the provider may go.
  if (--provider_->callers_ == 0 && provider_->closing_) provider_->callersGone_.notify_all();
}

ProviderContext clZemlink::ContextCell::get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return value_;
}

void clZemlink::ContextCell::set(const ProviderContext& context) {
  std::lock_guard<std::mutex> lock(mutex_);
  value_ = context;
}

// ---- Binding ---------------------------------------------------------------

int32_t clZemlink::initializeComm(int32_t reserved, const char* serverAddress) {
  if (reserved != 0) return ZEM_ERROR_UNSUPPORTED;
  std::lock_guard<std::mutex> bind(bindMutex_);

  std::snprintf(m_LoggerName, sizeof m_LoggerName, "%s", kLoggerName);
  m_TraceOn = m_Trace.Initialization(m_LoggerName, zem::kProviderKeyPath);

  if (serverAddress == nullptr || strnlen(serverAddress, kAddressLimit) >= kAddressLimit) return ZEM_ERROR_PARAMETER;

  // The texts are built without a fixed bound, so no address the check
  // above lets through is cut.
  const std::string binding = std::string("ncacn_ip_tcp") + ":" + serverAddress + "[" + zem::readServerPort() + "]";
  if (m_Initialized && m_Binding.hasBinding()) m_Binding.releaseBinding();
  if (!m_Binding.bind(binding).isOk()) return ZEM_ERROR_CONNECT;
  m_Initialized = true;

  if (!ensureMessagePump("clZemlink::initializeComm() - Provider thread successfully created\n")) {
    return ZEM_ERROR_NOT_READY;
  }
  try {
    startKeepAlive();
  } catch (const std::system_error&) {
    return ZEM_ERROR_NOT_READY;
  }

  std::this_thread::sleep_for(std::chrono::milliseconds(timings_.initSettleMs));
  traceOn("initializeComm: ( Re-init ) Delete all %d msg's in the Queue\n", m_Queue.count());
  emptyQueue();
  m_Queue.reset();
  traceOn("\nStart logging Ostrel Tarvo Provider \n\n");
  return ZEM_SUCCESS;
}

int32_t clZemlink::deInitializeComm() {
  std::lock_guard<std::mutex> bind(bindMutex_);
  traceOn("deInitializeComm: Deregister the provider %d\n", m_ProviderId.load());
  // Another thread's call to the server under the provider lock (a
  // registration, a completion, the pump's re-registration) would hold the
  // de-registration up until the server lets it go: it is cancelled, and so
  // is any that takes the lock before this thread does.
  m_GuardedCall.cancel();
  {
    std::lock_guard<zem::Osprel_clGuard> guard(m_Guard);
    m_GuardedCall.reset();
    deRegisterLocked(timings_.boundedCallMs);
  }
  dropContext();
  m_Initialized = false;
  if (m_Binding.hasBinding()) m_Binding.releaseBinding();
  traceOn("deInitializeComm: Delete all %d msg's in the Queue\n", m_Queue.count());
  emptyQueue();
  m_Queue.reset();
  m_ServerConnected = false;
  return ZEM_SUCCESS;
}

// ---- Registration ----------------------------------------------------------

int32_t clZemlink::registerProvider(uint32_t providerId) {
  if (providerId < 1 || providerId > 1999999999u) return ZEM_ERROR_BAD_PROVIDER_ID;
  std::lock_guard<zem::Osprel_clGuard> guard(m_Guard);
  return registerLocked(providerId);
}

int32_t clZemlink::registerLocked(uint32_t providerId, int timeLimitMs) {
  traceOn("registerProvider\n");
  if (!m_Initialized) return ZEM_ERROR_NOT_READY;
  if (m_ProviderId != -1) {
    const int32_t result = deRegisterLocked(timeLimitMs);
    // Without a context there is nothing left to end on the server (a
    // re-registration failed after its de-registration step): go on.
    if (result != ZEM_SUCCESS && result != ZEM_ERROR_NO_CONTEXT) return result;
  }

  ProviderContext context = m_Context.get();
  const ExchangeResult result =
      m_Binding.registerProvider(&context, static_cast<int32_t>(providerId), vendorProviderNames(),
                                 defaultRegistrationFlags(), &m_GuardedCall, timeLimitMs);
  if (result.raised()) return ZEM_ERROR_CONNECT;
  m_Context.set(context);
  if (result.value != 0) {
    // A refusal that still brought a context: nothing will use or end that
    // registration, so the client forgets it, and with it the association
    // it kept open; the server runs it down once that association closes.
    if (!context.isNull()) m_Binding.forgetContext(context);
    traceOn("registerProvider Exception Return\n");
    return ZEM_ERROR_CONNECT;
  }

  if (!ensureMessagePump("clZemlink::register_Provider() - Provider thread successfully created\n")) {
    return ZEM_ERROR_CONNECT;
  }

  // The registration stands on the server even when the status event
  // cannot be made; the provider then does not count as registered.
  const ZemContainerHandle registered = makeEvent(ZEM_MSG_PROVIDER_STATUS, ZEM_STATUS_REGISTERED);
  if (registered == 0) return ZEM_ERROR_NO_MEMORY;
  publish(registered);
  m_ProviderId = static_cast<int32_t>(providerId);
  m_ServerConnected = true;
  return ZEM_SUCCESS;
}

int32_t clZemlink::deRegisterProvider() {
  std::lock_guard<zem::Osprel_clGuard> guard(m_Guard);
  return deRegisterLocked();
}

int32_t clZemlink::deRegisterLocked(int timeLimitMs) {
  m_ServerConnected = false;
  traceOn("deRegisterProvider\n");
  if (!m_Initialized) return ZEM_ERROR_NOT_READY;
  if (m_ProviderId == -1) return ZEM_ERROR_NOT_REGISTERED;
  m_ProviderId = -1;
  ProviderContext context = m_Context.get();
  if (context.isNull()) return ZEM_ERROR_NO_CONTEXT;

  const ExchangeResult result = m_Binding.deRegisterProvider(&context, &m_GuardedCall, timeLimitMs);
  if (result.status.code() == rpc::StatusCode::GroupEnded) {
    // Every connection the registration was made on has closed (the server
    // restarted, or dropped them): the server has run the context down,
    // so the registration has ended as a de-registration would end it.
    dropContext();
  } else if (result.raised()) {
    return ZEM_ERROR_SERVER;
  } else {
    m_Context.set(context);
    if (result.value != 0) {
      traceOn("deRegisterProvider Exception Return\n");
      return ZEM_ERROR_SERVER;
    }
  }

  // A re-registration runs on the pump itself, which then keeps running.
  // Any other de-registration stops the pump without waiting for it: a
  // fetch it has under way is cancelled and whatever it brings is dropped.
  if (retireMessagePump()) trace("clZemlink::deRegister_Provider() - Provider thread successfully terminated\n");

  const ZemContainerHandle deregistered = makeEvent(ZEM_MSG_PROVIDER_STATUS, ZEM_STATUS_DEREGISTERED);
  if (deregistered == 0) return ZEM_ERROR_NO_MEMORY;
  publish(deregistered);
  return ZEM_SUCCESS;
}

// ---- Threads ---------------------------------------------------------------

bool clZemlink::hasMessagePump() const {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  return m_MsgThread != nullptr;
}

bool clZemlink::ensureMessagePump(const char* createdLine) {
  try {
    if (!startMessagePump()) return true;
  } catch (const std::system_error& error) {
    traceOn("Error creating the thread event: %d\n", error.code().value());
    return false;
  }
  trace("%s", createdLine);
  return true;
}

bool clZemlink::startMessagePump() {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  if (m_MsgThread) return false;
  // Pumps stopped earlier that have ended by now are joined here.
  std::erase_if(retiredPumps_, [](const std::unique_ptr<ProviderThread>& pump) { return pump->finished(); });
  m_MsgThread = std::make_unique<ProviderThread>("zem-pump", [this](ProviderThread& self) { providerMsgThread(self); });
  return true;
}

void clZemlink::startKeepAlive() {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  if (m_KeepAliveThread) return;
  m_KeepAliveThread =
      std::make_unique<ProviderThread>("zem-keepalive", [this](ProviderThread& self) { providerKeepAliveThread(self); });
}

bool clZemlink::retireMessagePump() {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  if (!m_MsgThread || m_MsgThread->isCurrent()) return false;
  m_MsgThread->requestStop();
  retiredPumps_.push_back(std::move(m_MsgThread));
  return true;
}

void clZemlink::stopAllThreads() {
  std::vector<std::unique_ptr<ProviderThread>> threads;
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    threads = std::move(retiredPumps_);
    if (m_MsgThread) threads.push_back(std::move(m_MsgThread));
    if (m_KeepAliveThread) threads.push_back(std::move(m_KeepAliveThread));
  }
  for (auto& thread : threads) thread->requestStop();
  threads.clear();  // joins each
}

// ---- Events ----------------------------------------------------------------

ZemContainerHandle clZemlink::makeEvent(int32_t messageType, int32_t status) {
  ZemContainerHandle handle = 0;
  try {
    handle = containers_.createContainer();
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (zem::ContainerTable::Ref container = containers_.table().acquire(handle)) {
    container->setMessageType(messageType);
    container->setStatus(status);
  }
  return handle;
}

bool clZemlink::publish(ZemContainerHandle handle, ProviderThread* from) {
  if (handle == 0) return false;
  if (from == nullptr) {
    m_Queue.append(handle);
    return true;
  }
  if (from->runUnlessStopped([&] { m_Queue.append(handle); })) return true;
  containers_.table().destroy(handle);
  return false;
}

bool clZemlink::reportConnectionLost(ProviderThread& self, const ProviderContext& context) {
  if (m_ProviderId == -1 || !(m_Context.get() == context)) return false;
  const ZemContainerHandle event = makeEvent(ZEM_MSG_ERROR, ZEM_ERROR_SERVER);
  if (event == 0) return false;  // tried again at the next failure
  // The pump and the keep-alive thread may both see the loss: one event.
  bool connected = true;
  if (!m_ServerConnected.compare_exchange_strong(connected, false)) {
    containers_.table().destroy(event);
    return false;
  }
  return publish(event, &self);
}

void clZemlink::emptyQueue() {
  m_Queue.drain([this](ZemContainerHandle handle) { containers_.table().destroy(handle); });
}

void clZemlink::dropContext() {
  // The client closes the context's association once nothing uses it, and
  // the server runs the context down.
  const ProviderContext context = m_Context.get();
  if (!context.isNull()) m_Binding.forgetContext(context);
  m_Context.set(ProviderContext{});
}

// ---- Trace -----------------------------------------------------------------

void clZemlink::trace(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  traceLine(format, arguments);
  va_end(arguments);
}

void clZemlink::traceOn(const char* format, ...) {
  if (!m_TraceOn.load(std::memory_order_relaxed)) return;
  va_list arguments;
  va_start(arguments, format);
  traceLine(format, arguments);
  va_end(arguments);
}

void clZemlink::traceLine(const char* format, va_list arguments) {
  // Each thread formats in storage of its own: its stack.
  char line[1024];
  std::vsnprintf(line, sizeof line, format, arguments);
  m_Trace.trace(line);
}
