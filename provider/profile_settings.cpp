#include "provider/profile_settings.h"

#include <ini.h>

#include "platform/registry_types.h"

namespace zem {
namespace {

struct Lookup {
  const std::string& section;
  const std::string& key;
  bool found = false;
  std::string value;
};

int onEntry(void* user, const char* section, const char* name, const char* value) {
  auto* lookup = static_cast<Lookup*>(user);
  if (!lookup->found && equalsIgnoreCase(section, lookup->section) && equalsIgnoreCase(name, lookup->key)) {
    lookup->found = true;
    lookup->value = value;
    const size_t length = lookup->value.size();
    if (length >= 2 && (lookup->value[0] == '"' || lookup->value[0] == '\'') &&
        lookup->value[length - 1] == lookup->value[0]) {
      lookup->value = lookup->value.substr(1, length - 2);
    }
  }
  return 1;  // lines after a malformed one still count
}

}  // namespace

std::string readProfileString(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
  Lookup lookup{section, key, false, {}};
  if (ini_parse(file.c_str(), onEntry, &lookup) < 0 || !lookup.found) return defaultValue;
  return lookup.value;
}

}  // namespace zem
