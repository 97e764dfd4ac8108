// The C library's character type (LC_CTYPE), which decides how the library
// converts its narrow texts, set for the whole process while the object
// lives. The locale is shared by every thread, so it is set before the code
// under test starts threads of its own and restored after they have ended.
#pragma once

#include <clocale>
#include <string>

namespace zem::test {

class CharacterType {
 public:
  explicit CharacterType(const char* name) {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    previous_ = current != nullptr ? current : "C";
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CharacterType() { std::setlocale(LC_CTYPE, previous_.c_str()); }
  CharacterType(const CharacterType&) = delete;
  CharacterType& operator=(const CharacterType&) = delete;

  // False where the platform has no such locale (nothing changed then).
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

// UTF-8 texts for the tests of items: n times one character.
inline std::string repeated(const std::string& character, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += character;
  return text;
}

}  // namespace zem::test
