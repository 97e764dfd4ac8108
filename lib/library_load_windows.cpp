// zemlink.dll: the process-wide objects are built when the DLL is loaded
// and stay until the process ends, and so does the DLL itself.
//
// Its provider threads would have to be stopped and joined before its code
// went away, but Windows unloads a DLL under the loader lock, which every
// ending thread needs as well: joining them there would never return. So
// the DLL takes itself out of FreeLibrary's reach when it is loaded (a
// FreeLibrary succeeds and changes nothing), and at the end of the process,
// when the system has already ended every other thread, nothing is torn
// down: the system reclaims the memory, handles and connections (the server
// runs down the contexts of closed connections).
#include "lib/loaded_library.h"

// After the library's headers: the system's headers define macros (such as
// FILE_OPEN) that would clash with their names.
#include <windows.h>

namespace {

struct PinnedLibrary {
  PinnedLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(this), &self);  // any address inside the DLL
    objects = new LoadedLibrary;
  }
  LoadedLibrary* objects;
};

const PinnedLibrary pinnedLibrary;

}  // namespace
