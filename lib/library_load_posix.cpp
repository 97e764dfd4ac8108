// libzemlink.so: one static object stands for the library's lifetime. Its
// constructor runs when the library is loaded (before any export can be
// called) and its destructor when the library is unloaded or the process
// ends, which de-registers and joins the provider's threads.
#include "lib/loaded_library.h"

namespace {

LoadedLibrary loadedLibrary;

}  // namespace
