// The logger's levels: a smaller number is more severe, and an entry is
// written when its level is at most the logger's current level.
#pragma once

#include <cstdint>

constexpr uint32_t LOG_LEVEL_FATAL = 0;
constexpr uint32_t LOG_LEVEL_WARN = 1;
constexpr uint32_t LOG_LEVEL_INFO = 2;
constexpr uint32_t LOG_LEVEL_DEBUG = 3;
constexpr uint32_t LOG_LEVEL_TRACE = 4;
constexpr uint32_t LOG_LEVEL_TRC_1 = 5;
constexpr uint32_t LOG_LEVEL_TRC_2 = 6;
constexpr uint32_t LOG_LEVEL_TRC_3 = 7;
constexpr uint32_t kLogLevelCount = 8;

// The name column of a level: five characters ("WARN ", "INFO " end in a
// blank), or "Unknown Type" for a number outside 0 to 7.
const char* logLevelName(uint32_t level);
