// Files and directories of the OS layer.
//
// Paths are the system's path texts, at most 256 characters unless said
// otherwise; each is turned into a native path with zem::nativePath
// (platform/paths.h) before use, so "D:\Corvane\Logs" and "/var/log/x" both
// work. Failures are silent: the result says what happened.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

// Size of the buffer that osFullPathName fills. A path text of 256
// characters mapped below the data root can be longer than that text.
constexpr size_t OS_FULL_PATH_SIZE = 1024;

// Creates the file, or empties an existing one, and closes it again.
bool osFileCreate(const char* path);
// Creates the one directory if the path does not exist: 0 when the path
// existed or was made, -1 when making it failed.
int osDirectoryCreate(const char* path);
// Creates every missing directory of the path (at most 519 characters); true
// when the whole path exists at the end.
bool osDirectoryCreateTree(const char* path);
// Copies; an existing target is overwritten.
bool osFileCopy(const char* source, const char* target);
// Renames; fails when the target exists or lies on another file system.
bool osFileMove(const char* source, const char* target);
// Renames, copying and deleting across file systems; fails when the target exists.
bool osFileMoveCopyAllowed(const char* source, const char* target);
bool osFileDelete(const char* path);
// True for an existing file or directory.
bool osFileExists(const char* path);
// 0 with the status filled in, -1 on failure.
int osFileStat(const char* path, struct stat* status);
// The size from the status call; the output is untouched on failure.
bool osGetFileSize(const char* path, uint32_t* size);
// The file's last-write time in local time, "2026 Dec 08 20:41:57.123"
// (OS_FILE_TIME_STRING_SIZE bytes with the terminator). The text is written
// only when everything succeeded.
bool osFileTimeString(const char* path, char* text, size_t size);
// The absolute form of the native path, in a buffer of OS_FULL_PATH_SIZE bytes;
// false when it does not fit.
bool osFullPathName(const char* path, char* fullPath);
// The first backslash of the text, or null.
const char* osFindBackslash(const char* text);
// Free bytes for an unprivileged user on the file system that holds the path
// (or its nearest existing parent directory).
bool osDiskFreeSpace(const char* path, uint64_t* freeBytes);
