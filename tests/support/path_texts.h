// The system's path texts in tests, on either platform. On Windows the
// texts name real drives ("C:\...") and text files end their lines with
// "\r\n"; elsewhere the library places a drive text below the data root
// ("C:\a\b" is <root>/a/b) and lines end with "\n".
#pragma once

#include <string>
#include <string_view>

#include "platform/paths.h"
#include "support/temp_root.h"

namespace zem::test {

#ifdef _WIN32
inline constexpr bool kDrivesAreReal = true;
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr bool kDrivesAreReal = false;
inline constexpr std::string_view kLineEnd = "\n";
#endif

// A path below a directory, joined the way the library joins its own.
inline std::string joinedPath(const std::string& directory, const std::string& name) {
  return directory + zem::pathSeparator() + name;
}

// A folder or file below the test's root ("a\\b"): its path text in the
// system's form, and the native path that text names.
inline std::string textBelowRoot(const TempRoot& root, const std::string& relative) {
  return (kDrivesAreReal ? root.path() + "\\" : std::string("C:\\")) + relative;
}
inline std::string nativeBelowRoot(const TempRoot& root, std::string relative) {
  for (char& c : relative) {
    if (c == '\\') c = zem::pathSeparator();
  }
  return joinedPath(root.path(), relative);
}

}  // namespace zem::test
