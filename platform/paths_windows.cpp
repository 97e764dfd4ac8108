#include "platform/paths.h"

#include <windows.h>

#include <cstdlib>

namespace zem {
namespace {

std::string fromEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string dataRoot() {
  std::string root = fromEnv("ZEMLINK_ROOT");
  if (root.empty()) {
    const std::string local = fromEnv("LOCALAPPDATA");
    root = local.empty() ? std::string("C:\\zemlink") : local + "\\zemlink";
  }
  while (root.size() > 3 && (root.back() == '\\' || root.back() == '/')) root.pop_back();
  return root;
}

// Drive letters are real here: the system's path texts are used as written.
std::string nativePath(std::string_view path) { return std::string(path); }

char pathSeparator() { return '\\'; }

}  // namespace zem
