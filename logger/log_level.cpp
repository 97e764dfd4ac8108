#include "logger/log_level.h"

namespace {
const char* const kLevelNames[kLogLevelCount] = {"FATAL", "WARN ", "INFO ", "DEBUG", "TRACE", "TRC_1", "TRC_2", "TRC_3"};
}

const char* logLevelName(uint32_t level) { return level < kLogLevelCount ? kLevelNames[level] : "Unknown Type"; }
