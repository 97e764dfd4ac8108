// Names the calling thread for the system's tools: ps, top and debuggers on
// Linux (at most 15 characters there), debuggers and the process's thread
// list on Windows.
#pragma once

namespace zem {

void nameCurrentThread(const char* name);

}  // namespace zem
