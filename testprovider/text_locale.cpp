#include "testprovider/text_locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

namespace rigbench {

void useUtf8CharacterType() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) return;
  std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace rigbench
