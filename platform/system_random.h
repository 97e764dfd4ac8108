// Bytes from the operating system's random source, for identifiers that
// must not repeat across processes and machines (UUIDs).
#pragma once

#include <cstddef>
#include <cstdint>

// Fills the buffer; false when the system's source could not deliver.
bool systemRandomBytes(uint8_t* buffer, size_t size);
