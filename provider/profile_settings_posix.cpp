#include "provider/profile_settings.h"

#include <ini.h>

#include <string_view>

#include "platform/settings/registry_types.h"

namespace zem {
namespace {

struct Lookup {
  const std::string& section;
  const std::string& key;
  bool found = false;
  std::string value;
};

// inih keeps the blanks before a section's closing bracket.
std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int onEntry(void* user, const char* section, const char* name, const char* value) {
  auto* lookup = static_cast<Lookup*>(user);
  if (!lookup->found && equalsIgnoreCase(trimmed(section), lookup->section) && equalsIgnoreCase(name, lookup->key)) {
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
