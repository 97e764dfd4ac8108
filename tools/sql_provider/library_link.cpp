#include "library_link.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "zemlink.h"

namespace sqlprovider {

std::string utcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

MessageFields readMessage(unsigned container) {
  MessageFields fields;
  fields.ref = Zem_getServerID(container);
  fields.call = Zem_getCallID(container);
  fields.heldCall = Zem_getHeldCallID(container);
  fields.networkCall = Zem_getNetworkCallID(container);
  fields.node = Zem_getNodeID(container);
  size_t index = 0;
  for (const char* item = Zem_getFirstItem(container); item != nullptr && index < fields.items.size();
       item = Zem_getNextItem(container)) {
    fields.items[index++] = item;
  }
  fields.received = utcNow();
  return fields;
}

int sendCompletion(int32_t ref, const Answer& items) {
  ZemContainerHandle completion = Zem_createDataContainer();
  if (completion == 0) return ZEM_ERROR_NO_MEMORY;
  Zem_setMessageType(completion, ZEM_MSG_COMPLETION);
  Zem_setServerID(completion, ref);
  for (size_t i = 0; i < items.size() && i < ZEM_MAX_ITEMS; ++i) {
    if (i == 0) {
      Zem_setFirstItem(completion, items[i].c_str());
    } else {
      Zem_setNextItem(completion, items[i].c_str());
    }
  }
  const int result = Zem_SendServiceComplete(&completion);
  Zem_ResponseReceived(&completion);
  return result;
}

EventTaker::EventTaker(Handlers handlers) : handlers_(std::move(handlers)), thread_([this] { run(); }) {}

EventTaker::~EventTaker() { join(); }

void EventTaker::join() {
  if (thread_.joinable()) thread_.join();
}

void EventTaker::run() {
  while (!stopping_) {
    ZemContainerHandle event = 0;
    const int result = Zem_GetEvent(ZEM_EVENT_WAIT, &event);
    if (result == ZEM_ERROR_NOT_READY) {
      // Only after ZemlinkDeInit, which comes after stop().
      if (stopping_) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (result != ZEM_SUCCESS || event == 0) continue;  // a wait ended without a message
    switch (Zem_getMessageType(event)) {
      case ZEM_MSG_REQUEST:
        handlers_.request(readMessage(event));
        break;
      case ZEM_MSG_INFO:
        handlers_.informational(readMessage(event));
        break;
      case ZEM_MSG_ERROR:
        handlers_.lost();
        break;
      default:
        break;  // status events: the registration's own result tells
    }
    Zem_ResponseReceived(&event);
  }
}

}  // namespace sqlprovider
