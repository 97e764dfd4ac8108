#include <windows.h>

#include "provider/profile_settings.h"

namespace zem {

std::string readProfileString(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
  // The profile API looks for a bare file name in the Windows directory;
  // the library's settings file is the one in the current directory.
  char path[MAX_PATH];
  const DWORD length = GetFullPathNameA(file.c_str(), sizeof path, path, nullptr);
  if (length == 0 || length >= sizeof path) return defaultValue;
  char value[1024];  // values of up to 1023 characters
  GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), value, sizeof value, path);
  return value;
}

}  // namespace zem
