// Reading a value from a profile (ini) file, with the usual rules: section
// and key names compare without regard to case, blanks around names and
// values are trimmed, ';' and '#' start comments, a value in matching quotes
// loses them, and the first matching key wins. On Windows the system's
// profile API reads the file (where a comment after a value is part of the
// value); elsewhere inih, the small and well-kept ini parser of Debian's
// libinih, parses it.
#pragma once

#include <string>

namespace zem {

// The value of key in section of the file, or defaultValue when the file,
// the section or the key is missing.
std::string readProfileString(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& defaultValue);

}  // namespace zem
