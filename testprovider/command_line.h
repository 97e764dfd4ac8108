// The program's options. Without --auto it opens its window; with --auto
// it runs the same panel without one (see AutoRunner).
#pragma once

#include <QCoreApplication>
#include <QString>
#include <utility>
#include <vector>

namespace rigbench {

// What --auto runs with: the values an operator would type into the window.
struct AutoOptions {
  QString server;
  QString id;
  double seconds = 0;  // 0: until SIGINT or SIGTERM
  std::vector<std::pair<int, QString>> parameters;  // (k from 1, text)
  bool echo = false;
  bool increment = false;
  bool toggle = false;
  QString toggleValue;
  QString special;  // an entry of the generated-value combo box, or empty
  QString rangeFrom, rangeTo;
  bool log = false;
};

struct CommandLine {
  bool headless = false;
  AutoOptions options;
};

// True when the arguments ask for no window (--auto, --help, --version, or
// an option the window does not take), so that no display is needed.
bool needsNoWindow(int argc, char** argv);

// Reads the application's arguments. --help and --version print and end
// the program; a wrong option prints why and ends it with status 2.
CommandLine parseCommandLine(const QCoreApplication& application);

}  // namespace rigbench
