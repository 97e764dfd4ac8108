// The provider programs the soak runs side by side against one exchange-sim.
// A further kind is one more row: its name, its command ("{id}" stands for
// the provider identifier; the port comes from zemlink.ini in the current
// directory, the files from $ZEMLINK_ROOT), the line it prints for each
// error event it receives (an ECMAScript pattern; with one capture group,
// the line carries the running count instead), and how many to run.
// Each program must register at start, re-register after an error event
// until it succeeds, and end within a few seconds of SIGTERM (exit 0 or 1,
// or by the signal itself); anything else counts as a crash or a hang.
#pragma once

#include <string>
#include <vector>

namespace zem::soak {

struct ProviderKind {
  std::string name;
  std::vector<std::string> command;
  std::string errorEventLine;
  int instances = 1;
};

inline std::vector<ProviderKind> providerKinds() {
  return {
      {"console-provider", {CONSOLE_PROVIDER, "--id", "{id}"}, "^error event, status 30", 4},
      {"rigbench", {RIGBENCH, "--auto", "--server", "127.0.0.1", "--id", "{id}"},
       "^error event: the connection was lost", 1},
  };
}

}  // namespace zem::soak
