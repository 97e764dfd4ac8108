// Reading this process's memory without the risk of a fault: an address that
// is not mapped or not readable makes the read fail instead of raising a
// signal. Used while a fault is being reported, when nothing may fault again.
#pragma once

#include <cstddef>
#include <cstdint>

bool readProcessMemory(uintptr_t address, void* destination, size_t size);
