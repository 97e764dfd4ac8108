// Paths on Windows: the system's path texts name real drives and are used as
// written; the data root holds only what has no path text of its own.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <string>

#include "support/environment.h"

namespace {

using zem::test::setEnvironmentVariable;
using zem::test::unsetEnvironmentVariable;

TEST(NativePath, TakesTheTextsAsWritten) {
  for (const char* text : {"D:\\Corvane\\LogsPellor\\TarvoCapi_Exception.Log", "c:\\GLLExceptions_0x0000002a.txt",
                           "\\Corvane\\Logs\\Pellor", "Logs\\Pellor\\x.log", ""}) {
    EXPECT_EQ(zem::nativePath(text), text);
  }
  EXPECT_EQ(zem::pathSeparator(), '\\');
}

// (Runs in a process of its own, as every test does here: the variables it
// changes are its own.)
TEST(DataRoot, FollowsTheEnvironment) {
  setEnvironmentVariable("ZEMLINK_ROOT", "E:\\srv\\zem\\");
  EXPECT_EQ(zem::dataRoot(), "E:\\srv\\zem");

  unsetEnvironmentVariable("ZEMLINK_ROOT");
  setEnvironmentVariable("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local");
  EXPECT_EQ(zem::dataRoot(), "C:\\Users\\u\\AppData\\Local\\zemlink");

  unsetEnvironmentVariable("LOCALAPPDATA");
  EXPECT_EQ(zem::dataRoot(), "C:\\zemlink");
}

}  // namespace
