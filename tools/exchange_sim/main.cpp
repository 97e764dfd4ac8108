// exchange-sim: a DCE/RPC server of the exchange interface for tests, demos
// and benchmarks. Driven by options and by JSON lines on standard input;
// reports JSON lines on standard output. See --help.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "rpc/server.h"
#include "tools/exchange_sim/control_channel.h"
#include "tools/exchange_sim/event_stream.h"
#include "tools/exchange_sim/exchange_dispatch.h"
#include "tools/exchange_sim/sim_exchange.h"
#include "tools/exchange_sim/traffic_generator.h"

namespace {

constexpr const char* kUsage = R"(Usage: exchange-sim [options]

A data-exchange server of the provider interface (DCE/RPC over TCP).
Its first line on standard output is {"event":"listening","port":N}; then one
JSON event per line. Standard input takes one JSON command per line.

Options:
  --port N            port to listen on; 0 picks a free one (default 1550)
  --host H            address to listen on (default 127.0.0.1)
  --hold-ms MS        how long Zem_GetMessageBridge waits for a message (default 10000)
  --idle-result N     what Zem_GetMessageBridge returns when none came (default 1)
  --max-frag N        largest fragment the server sends and accepts (default 5840)
  --generate N        make up N messages once a provider registered (default 0)
  --rate R            messages per second when generating; 0: no pacing (default 10)
  --info-share F      share of informational messages, 0 to 1 (default 0)
  --item TEXT         an item of generated messages, up to ten; "{ref}" becomes the reference
  --target ID         generated messages go to this provider only (default: all)
  --first-ref N       reference of the first generated message (default 1)
  --quiet             no keepalive, delivered or completion events
  --keep-running      keep serving when standard input ends (stop with SIGINT or SIGTERM)
  -h, --help          this text
  --version           the version of exchange-sim

Commands:
  {"cmd":"send","type":"request"|"info","ref":N,"callId":N,"networkCallId":N,"nodeId":N,
   "heldCallId":N,"callRef":N,"msgType":N,"providerId":N,"items":["text",...]}
      queue a message; msgType overrides the wire type (request 1, info 0); without
      providerId it goes to every registration
  {"cmd":"fail","proc":P,"result":N,"count":C,"providerId":ID}
  {"cmd":"fail","proc":P,"action":"fault"|"drop"|"delay","ms":MS,"status":S,"count":C,"providerId":ID}
      the next C calls (default 1) of procedure P (registerProvider, deRegisterProvider,
      Zem_GetMessageBridge, sendCompletion, keepAlive) answer result N instead of working,
      send a fault PDU with status S (default 0x1C000021), close the connection without an
      answer, or wait MS milliseconds first; with providerId only calls of that provider
      (for registerProvider: registrations under that identifier). Each such call is
      reported as an injected event (proc, providerId, the failure, and the ref of a
      completion)
  {"cmd":"stats"}
      report {"event":"stats","completions":N,"latencyUs":{"p50","p99","max"},"afterDeliveryUs":{...}}:
      times from queueing (and from delivery) of a message to the completion that names it
  {"cmd":"quit"}
  Any command may carry "seq": it is answered with {"event":"ack","seq":...} once it has
  taken effect (an error event comes first if it was refused).

Events: listening, registered (providerId, context, names, flags), deregistered,
keepalive, delivered (ref), completion (ref, items: all ten strings), rundown,
injected (proc, providerId, result or action), generated (count), stats, ack (seq),
error (reason).
)";

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = write(signalPipe[1], &byte, 1);
}

bool parseNumber(const char* text, long long low, long long high, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 0);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

struct Options {
  rpc::ServerOptions server;
  SimOptions sim;
  TrafficOptions traffic;
  bool quiet = false;
  bool keepRunning = false;
  bool version = false;
};

// False (with a message on standard error) when the arguments are wrong.
bool parseOptions(int argc, char** argv, Options& options, bool& help) {
  options.server.port = 1550;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    long long number = 0;
    const auto numberOption = [&](long long low, long long high) {
      const char* text = value();
      if (text == nullptr || !parseNumber(text, low, high, number)) {
        std::fprintf(stderr, "exchange-sim: %s needs a number from %lld to %lld\n", name.c_str(), low, high);
        return false;
      }
      return true;
    };
    if (name == "--help" || name == "-h") {
      help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "--port") {
      if (!numberOption(0, 65535)) return false;
      options.server.port = static_cast<uint16_t>(number);
    } else if (name == "--host") {
      const char* text = value();
      if (text == nullptr) return false;
      options.server.host = text;
    } else if (name == "--hold-ms") {
      if (!numberOption(0, 3600000)) return false;
      options.sim.holdMs = static_cast<int>(number);
    } else if (name == "--idle-result") {
      if (!numberOption(-32768, 32767)) return false;
      options.sim.idleResult = static_cast<int16_t>(number);
    } else if (name == "--max-frag") {
      if (!numberOption(rpc::kMinFragmentSize, 65535)) return false;
      options.server.maxRecvFrag = options.server.maxXmitFrag = static_cast<uint16_t>(number);
    } else if (name == "--generate") {
      if (!numberOption(0, INT32_MAX)) return false;
      options.traffic.count = number;
    } else if (name == "--rate" || name == "--info-share") {
      const char* text = value();
      char* end = nullptr;
      const double real = text ? std::strtod(text, &end) : -1;
      const double high = name == "--rate" ? 1e9 : 1;
      if (text == nullptr || *end != '\0' || real < 0 || real > high) {
        std::fprintf(stderr, "exchange-sim: %s needs a number from 0 to %g\n", name.c_str(), high);
        return false;
      }
      (name == "--rate" ? options.traffic.ratePerSecond : options.traffic.infoShare) = real;
    } else if (name == "--item") {
      const char* text = value();
      if (text == nullptr || options.traffic.items.size() >= kStringCount) {
        std::fprintf(stderr, "exchange-sim: --item takes a text, at most ten times\n");
        return false;
      }
      options.traffic.items.push_back(text);
    } else if (name == "--target") {
      if (!numberOption(INT32_MIN, INT32_MAX)) return false;
      options.traffic.providerId = static_cast<int32_t>(number);
    } else if (name == "--first-ref") {
      if (!numberOption(INT32_MIN, INT32_MAX)) return false;
      options.traffic.firstRef = static_cast<int32_t>(number);
    } else if (name == "--quiet") {
      options.quiet = true;
    } else if (name == "--keep-running") {
      options.keepRunning = true;
    } else {
      std::fprintf(stderr, "exchange-sim: unknown option %s (see --help)\n", name.c_str());
      return false;
    }
  }
  return true;
}

// Reads commands until quit, the end of standard input (unless told to keep
// running) or a signal.
void commandLoop(ControlChannel& control, bool keepRunning) {
  std::string pending;
  bool inputOpen = true;
  for (;;) {
    pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents == 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!pending.empty() && !control.handle(pending)) return;
      if (!keepRunning) return;
      inputOpen = false;
      continue;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!control.handle(line)) return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  if (!parseOptions(argc, argv, options, help)) return 2;
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::puts("exchange-sim " ZEMLINK_VERSION);
    return 0;
  }

  if (pipe2(signalPipe, O_CLOEXEC) != 0) return 1;
  struct sigaction action{};
  action.sa_handler = onSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  EventStream events(stdout);
  if (options.quiet) events.mute({"keepalive", "delivered", "completion"});
  auto exchange = std::make_shared<SimExchange>(events, options.sim);
  rpc::Server server(options.server);
  server.addInterface(std::make_shared<ExchangeDispatcher>(exchange));
  const rpc::Status status = server.start();
  if (!status.isOk()) {
    events.error("cannot listen: " + status.toString());
    return 1;
  }
  events.emit("listening", {{"port", server.port()}});

  TrafficGenerator traffic(*exchange, events, options.traffic);
  traffic.start();
  ControlChannel control(*exchange, events);
  commandLoop(control, options.keepRunning);

  exchange->stop();
  traffic.stop();
  server.stop();
  return 0;
}
