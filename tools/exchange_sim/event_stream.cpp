#include "tools/exchange_sim/event_stream.h"

void EventStream::emit(const std::string& name, nlohmann::ordered_json fields) {
  if (muted_.count(name) != 0) return;
  nlohmann::ordered_json line;
  line["event"] = name;
  for (auto& [key, value] : fields.items()) line[key] = value;
  // Invalid UTF-8 from a peer is replaced rather than ending the program.
  const std::string text = line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::lock_guard lock(mutex_);
  std::fputs(text.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void EventStream::error(const std::string& reason) { emit("error", {{"reason", reason}}); }
