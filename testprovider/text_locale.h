// Qt takes the locale's 8-bit texts as UTF-8; the library converts its wire
// texts with the C library's multibyte functions, which follow LC_CTYPE. So
// that both sides agree, the program runs with a UTF-8 character type.
#pragma once

namespace rigbench {

// After the Qt application object exists (it sets the locale from the
// environment): keeps a UTF-8 LC_CTYPE, or switches it to C.UTF-8.
void useUtf8CharacterType();

}  // namespace rigbench
