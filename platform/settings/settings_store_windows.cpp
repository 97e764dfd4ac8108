// The settings store on Windows is the system's registry itself; change
// notification is RegNotifyChangeKeyValue on an event, which a thread-pool
// wait turns into the caller's Event.
#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/settings/settings_store.h"

namespace zem {
namespace {

HKEY rootHandle(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RootKey::CurrentUser: return HKEY_CURRENT_USER;
    case RootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RootKey::Users: return HKEY_USERS;
    case RootKey::PerformanceData: return HKEY_PERFORMANCE_DATA;
    case RootKey::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case RootKey::DynData: return HKEY_DYN_DATA;
  }
  return HKEY_LOCAL_MACHINE;
}

HKEY keyHandle(uint64_t id) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(id)); }

RegStatus failure(LONG error, const std::string& what) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return RegStatus::error(RegError::NotFound, "no such " + what);
  }
  return RegStatus::error(RegError::IoError, what + ": registry error " + std::to_string(error));
}

RegStatus notOpen() { return RegStatus::error(RegError::InvalidArgument, "the key is not open"); }

// One pending change request: the system's event, the wait that sets the
// caller's event, and the caller's event itself.
struct Request {
  HANDLE systemEvent = nullptr;
  HANDLE wait = nullptr;
  std::shared_ptr<Event> event;
};

void CALLBACK onChanged(void* context, BOOLEAN /*timedOut*/) { static_cast<Request*>(context)->event->set(); }

// The pending requests of every open key, by key handle.
class PendingRequests {
 public:
  static PendingRequests& instance() {
    static PendingRequests* requests = new PendingRequests;  // never destroyed: keys close during exit
    return *requests;
  }
  void add(uint64_t key, std::unique_ptr<Request> request) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.emplace(key, std::move(request));
  }
  // Ends the key's requests and sets their events, as closing a key does.
  void cancel(uint64_t key) {
    std::vector<std::unique_ptr<Request>> ended;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto [first, last] = requests_.equal_range(key);
      for (auto it = first; it != last; ++it) ended.push_back(std::move(it->second));
      requests_.erase(first, last);
    }
    for (std::unique_ptr<Request>& request : ended) {
      UnregisterWaitEx(request->wait, INVALID_HANDLE_VALUE);  // waits for a callback under way
      CloseHandle(request->systemEvent);
      request->event->set();
    }
  }

 private:
  std::mutex mutex_;
  std::multimap<uint64_t, std::unique_ptr<Request>> requests_;
};

RegStatus openKey(RootKey root, std::string_view path, bool create, RegistryKey& out, HKEY& handle) {
  const std::string subkey(path);
  const LONG error = create ? RegCreateKeyExA(rootHandle(root), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_ALL_ACCESS, nullptr, &handle, nullptr)
                            : RegOpenKeyExA(rootHandle(root), subkey.c_str(), 0, KEY_ALL_ACCESS, &handle);
  if (error != ERROR_SUCCESS) return failure(error, std::string("key: ") + rootKeyName(root) + "\\" + subkey);
  out.close();
  return RegStatus::ok();
}

}  // namespace

RegStatus RegistryKey::open(RootKey root, std::string_view path, RegistryKey& out) {
  HKEY handle = nullptr;
  RegStatus status = openKey(root, path, false, out, handle);
  if (!status) return status;
  out.root_ = root;
  out.path_ = std::string(path);
  out.id_ = reinterpret_cast<uintptr_t>(handle);
  return status;
}

RegStatus RegistryKey::create(RootKey root, std::string_view path, RegistryKey& out) {
  HKEY handle = nullptr;
  RegStatus status = openKey(root, path, true, out, handle);
  if (!status) return status;
  out.root_ = root;
  out.path_ = std::string(path);
  out.id_ = reinterpret_cast<uintptr_t>(handle);
  return status;
}

RegStatus RegistryKey::deleteTree(RootKey root, std::string_view path) {
  if (path.empty()) return RegStatus::error(RegError::InvalidArgument, "a root key cannot be deleted");
  const std::string subkey(path);
  const LONG error = RegDeleteTreeA(rootHandle(root), subkey.c_str());
  return error == ERROR_SUCCESS ? RegStatus::ok() : failure(error, "key: " + subkey);
}

RegStatus RegistryKey::queryValue(std::string_view name, RegValue& out) const {
  if (!isOpen()) return notOpen();
  const std::string valueName(name);
  DWORD type = 0;
  std::vector<uint8_t> data(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    const LONG error = RegQueryValueExA(keyHandle(id_), valueName.c_str(), nullptr, &type, data.data(), &size);
    if (error == ERROR_MORE_DATA) {
      data.resize(size);
      continue;
    }
    if (error != ERROR_SUCCESS) return failure(error, "value: \"" + valueName + "\"");
    data.resize(size);
    break;
  }
  // Texts are kept without their terminator.
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    while (!data.empty() && data.back() == 0) data.pop_back();
  }
  out.name = valueName;
  out.type = type;
  out.data = std::move(data);
  return RegStatus::ok();
}

RegStatus RegistryKey::setValue(const RegValue& value) {
  if (!isOpen()) return notOpen();
  if (value.isText() && value.data.end() != std::find(value.data.begin(), value.data.end(), uint8_t{0})) {
    return RegStatus::error(RegError::InvalidArgument, "text value holds a NUL character");
  }
  std::vector<uint8_t> data = value.data;
  if (value.isText()) data.push_back(0);
  const LONG error = RegSetValueExA(keyHandle(id_), value.name.c_str(), 0, value.type, data.data(),
                                    static_cast<DWORD>(data.size()));
  return error == ERROR_SUCCESS ? RegStatus::ok() : failure(error, "value: \"" + value.name + "\"");
}

RegStatus RegistryKey::deleteValue(std::string_view name) {
  if (!isOpen()) return notOpen();
  const std::string valueName(name);
  const LONG error = RegDeleteValueA(keyHandle(id_), valueName.c_str());
  return error == ERROR_SUCCESS ? RegStatus::ok() : failure(error, "value: \"" + valueName + "\"");
}

RegStatus RegistryKey::values(std::vector<RegValue>& out) const {
  if (!isOpen()) return notOpen();
  out.clear();
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameLength = sizeof name;
    const LONG error = RegEnumValueA(keyHandle(id_), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return RegStatus::ok();
    if (error != ERROR_SUCCESS) return failure(error, "values of " + path_);
    RegValue value;
    RegStatus status = queryValue(std::string_view(name, nameLength), value);
    if (!status) return status;
    out.push_back(std::move(value));
  }
}

RegStatus RegistryKey::subkeys(std::vector<std::string>& out) const {
  if (!isOpen()) return notOpen();
  out.clear();
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof name;
    const LONG error = RegEnumKeyExA(keyHandle(id_), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return RegStatus::ok();
    if (error != ERROR_SUCCESS) return failure(error, "subkeys of " + path_);
    out.emplace_back(name, nameLength);
  }
}

RegStatus RegistryKey::notifyChange(bool withSubkeys, std::shared_ptr<Event> event) {
  if (!isOpen()) return notOpen();
  if (!event) return RegStatus::error(RegError::InvalidArgument, "no event to set");
  auto request = std::make_unique<Request>();
  request->event = std::move(event);
  request->systemEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (request->systemEvent == nullptr) return failure(static_cast<LONG>(GetLastError()), "change event");
  constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
  // Not tied to the calling thread: the request outlives it.
  LONG error = RegNotifyChangeKeyValue(keyHandle(id_), withSubkeys, kFilter | REG_NOTIFY_THREAD_AGNOSTIC,
                                       request->systemEvent, TRUE);
  if (error == ERROR_INVALID_PARAMETER) {
    error = RegNotifyChangeKeyValue(keyHandle(id_), withSubkeys, kFilter, request->systemEvent, TRUE);
  }
  if (error != ERROR_SUCCESS ||
      !RegisterWaitForSingleObject(&request->wait, request->systemEvent, onChanged, request.get(), INFINITE,
                                   WT_EXECUTEONLYONCE)) {
    CloseHandle(request->systemEvent);
    return failure(error != ERROR_SUCCESS ? error : static_cast<LONG>(GetLastError()), "change notification");
  }
  PendingRequests::instance().add(id_, std::move(request));
  return RegStatus::ok();
}

void RegistryKey::close() {
  if (id_ == 0) return;
  PendingRequests::instance().cancel(id_);
  RegCloseKey(keyHandle(id_));
  id_ = 0;
  path_.clear();
}

}  // namespace zem
