// Where the library's files live on this platform.
//
// The system names its files with Windows path texts ("D:\Corvane\Logs\Pellor",
// "c:\GLLExceptions_0x%08x.txt"). nativePath() turns such a text into a path
// of this machine; every file operation of the library goes through it. On
// Windows (paths_windows.cpp) drive letters are real: the texts are used as
// written, and the mapping below is that of POSIX systems (paths_posix.cpp).
//
// The data root is $ZEMLINK_ROOT when set and not empty; otherwise
// $XDG_DATA_HOME/zemlink, else $HOME/.local/share/zemlink, else
// /tmp/zemlink-<uid>. The same rule serves root and ordinary users: each gets a
// root in its own home. Both functions read the environment on every call and
// are safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace zem {

// The data root, without a trailing slash.
std::string dataRoot();

// Maps a path text to a native path:
//   "X:\a\b"   -> <root>/a/b        (drive prefix dropped, placed under the root)
//   "\a\b"     -> <root>/a/b        (rooted without a drive: under the root too)
//   "/var/x"   -> /var/x            (already native and absolute: unchanged)
//   "a\b"      -> a/b               (relative: stays relative to the current directory)
// Backslashes become slashes everywhere.
std::string nativePath(std::string_view path);

// The separator of native paths that the library joins itself: '/' on POSIX
// systems, '\' on Windows, so that a path the library shows an operator is
// written the way the system writes its own.
char pathSeparator();

}  // namespace zem
