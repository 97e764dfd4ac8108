#include "platform/paths.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace zem {
namespace {

std::string fromEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

void trimTrailingSlashes(std::string& path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
}

bool hasDrivePrefix(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

std::string dataRoot() {
  std::string root = fromEnv("ZEMLINK_ROOT");
  if (root.empty()) {
    std::string base = fromEnv("XDG_DATA_HOME");
    if (base.empty()) {
      const std::string home = fromEnv("HOME");
      if (!home.empty()) base = home + "/.local/share";
    }
    root = base.empty() ? "/tmp/zemlink-" + std::to_string(getuid()) : base + "/zemlink";
  }
  trimTrailingSlashes(root);
  return root;
}

char pathSeparator() { return '/'; }

std::string nativePath(std::string_view path) {
  if (!path.empty() && path[0] == '/') return std::string(path);

  std::string rest(path);
  bool underRoot = false;
  if (hasDrivePrefix(rest)) {
    rest.erase(0, 2);
    underRoot = true;
  } else if (!rest.empty() && rest[0] == '\\') {
    underRoot = true;
  }
  std::replace(rest.begin(), rest.end(), '\\', '/');
  if (!underRoot) return rest;

  std::string root = dataRoot();
  if (!rest.empty() && rest[0] != '/') root += '/';
  return root + rest;
}

}  // namespace zem
