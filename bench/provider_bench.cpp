// A provider under a steady stream of requests: exchange-sim generates them
// at a fixed rate, libzemlink.so (with its real timings: a 30 ms pump
// cycle) brings them in, and an application thread answers each with a
// ten-item completion.
//
// Reported: the request-to-completion latency as the simulator measures it
// (from queueing a request to the arrival of its completion, and from the
// fetch that delivered it to the completion: the part the library and the
// application add after the pump's sleep), and the CPU time of this process
// per request, which is the library's threads and the application thread's
// calls into the library. Beside it, the floor of this machine: the same
// pattern of wake-ups without the library (a thread that sleeps 30 ms, makes
// a round trip over a socket, hands a token to a second thread through a
// condition variable, which makes a round trip of its own; TCP on loopback
// to a separate process, as the library's calls go), so that the
// library's share can be told from what the machine charges for waking
// threads.
//
// Runs are made in pairs, with the trace off and on at level 2, each in a
// process of its own, and the medians are compared.
//
//   provider_bench [requests per run, default 300] [requests per second, default 20] [pairs, default 3]
//
// The throughput mode offers a series of rates, each against fetch bursts
// ("ProviderFetchBurst") of 1 and 100, one point per process with the trace
// off: completed per second, queueing to completion (median, 99th
// percentile), CPU per request beside the floor, and the rate exchange-sim
// kept. It writes the table as text and, with gnuplot, as a plot:
//
//   provider_bench --throughput [--seconds S] [--rates 20,100,...] [--bursts 1,100] [--out DIR]
#include <sys/resource.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/process.h"
#include "zemlink.h"

namespace {

struct CpuTime {
  double user = 0;
  double system = 0;
  long contextSwitches = 0;
};

CpuTime cpuTime() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}

// Answers a request with a ten-item completion.
void answer(ZemContainerHandle request) {
  ZemContainerHandle completion = Zem_createDataContainer();
  Zem_setMessageType(completion, ZEM_MSG_COMPLETION);
  Zem_setServerID(completion, Zem_getServerID(request));
  Zem_setFirstItem(completion, Zem_getFirstItem(request));
  for (int i = 1; i < ZEM_MAX_ITEMS; ++i) Zem_setNextItem(completion, "answer text of a typical length");
  if (Zem_SendServiceComplete(&completion) != ZEM_SUCCESS) std::fprintf(stderr, "a completion failed\n");
  Zem_ResponseReceived(&completion);
}

// The application: waits for events and answers every request.
void serve(int requests, std::atomic<int>& answered) {
  while (answered < requests) {
    ZemContainerHandle event = 0;
    if (Zem_GetEvent(ZEM_EVENT_WAIT, &event) != ZEM_SUCCESS || event == 0) continue;
    if (Zem_getMessageType(event) == ZEM_MSG_REQUEST) {
      answer(event);
      ++answered;
    }
    Zem_ResponseReceived(&event);
  }
}

// The floor's server: another process, as exchange-sim is, that echoes
// every byte on either socket until both close.
pid_t startEchoServer(int first, int second, int parentFirst, int parentSecond) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  close(parentFirst);
  close(parentSecond);
  pollfd fds[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
  int open = 2;
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (pollfd& entry : fds) {
      if (entry.fd < 0 || entry.revents == 0) continue;
      char byte;
      if (read(entry.fd, &byte, 1) != 1 || write(entry.fd, &byte, 1) != 1) {
        entry.fd = -1;
        --open;
      }
    }
  }
  _exit(0);
}

bool roundTrip(int fd) {
  char byte = 'x';
  return write(fd, &byte, 1) == 1 && read(fd, &byte, 1) == 1;
}

// A connected pair of TCP sockets on loopback, as the library's calls use:
// [0] the client's end, [1] the server's.
bool tcpPair(int ends[2]) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bool ok = listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(listener, 1) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ends[0] = ok ? socket(AF_INET, SOCK_STREAM, 0) : -1;
  ok = ok && ends[0] >= 0 && connect(ends[0], reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ends[1] = ok ? accept(listener, nullptr, nullptr) : -1;
  if (listener >= 0) close(listener);
  const int one = 1;
  for (int i = 0; i < 2 && ok; ++i) setsockopt(ends[i], IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return ok && ends[1] >= 0;
}

// CPU per request of the wake-up pattern alone (see the top of the file).
CpuTime measureFloor(int requests) {
  int fetch[2], complete[2];
  if (!tcpPair(fetch) || !tcpPair(complete)) return {};
  const pid_t server = startEchoServer(fetch[1], complete[1], fetch[0], complete[0]);
  close(fetch[1]);
  close(complete[1]);
  std::mutex mutex;
  std::condition_variable handed;
  int tokens = 0;
  std::thread application([&] {
    for (int i = 0; i < requests; ++i) {
      std::unique_lock lock(mutex);
      handed.wait(lock, [&] { return tokens > 0; });
      --tokens;
      lock.unlock();
      roundTrip(complete[0]);
    }
  });
  const CpuTime before = cpuTime();
  for (int i = 0; i < requests; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    roundTrip(fetch[0]);
    {
      std::lock_guard lock(mutex);
      ++tokens;
    }
    handed.notify_one();
  }
  application.join();
  const CpuTime after = cpuTime();
  close(fetch[0]);
  close(complete[0]);
  waitpid(server, nullptr, 0);
  return {after.user - before.user, after.system - before.system, after.contextSwitches - before.contextSwitches};
}

// A data root of this process's own, which is also its current directory
// (for "zemlink.ini").
std::filesystem::path enterPrivateRoot() {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("zemlink-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  setenv("ZEMLINK_ROOT", root.c_str(), 1);
  std::filesystem::current_path(root);
  return root;
}

// Starts exchange-sim with the given options and names its port in
// "zemlink.ini"; false when it did not start.
bool startSimulator(std::unique_ptr<zem::test::ChildProcess>& sim, std::vector<std::string> options) {
  options.insert(options.begin(), {EXCHANGE_SIM, "--port", "0", "--quiet"});
  sim = std::make_unique<zem::test::ChildProcess>(options);
  std::string line;
  if (!sim->readLine(line, 10000)) return false;
  const int port = nlohmann::json::parse(line, nullptr, false).value("port", 0);
  std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << port << "\n";
  return port != 0;
}

// The simulator's events up to its answer to "stats", by name.
std::map<std::string, nlohmann::json> simulatorStats(zem::test::ChildProcess& sim) {
  std::map<std::string, nlohmann::json> events;
  sim.writeLine(R"({"cmd":"stats"})");
  std::string line;
  while (sim.readLine(line, 10000)) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object()) continue;
    events[event.value("event", "")] = event;
    if (event.value("event", "") == "stats") break;
  }
  return events;
}

// One run: a fresh exchange-sim generates the requests, the provider binds,
// registers, serves them all, and goes again.
struct RunResult {
  double wallSeconds = 0;
  int completions = 0;
  double queuedMedianMs = 0, queuedP99Ms = 0, queuedMaxMs = 0;
  double deliveredMedianMs = 0, deliveredP99Ms = 0, deliveredMaxMs = 0;
  CpuTime cpu;
};

// Stores REG_DWORD values under the provider's key, as an operator would.
bool storeSettings(const std::vector<std::pair<std::string, std::string>>& values) {
  const std::string key = "HKLM\\SOFTWARE\\Brasken\\Quorin\\Tarvo";
  for (const auto& [value, data] : values) {
    const zem::test::ProcessResult result =
        zem::test::runProcess({ZEMREG, "add", key, "/v", value, "/t", "REG_DWORD", "/d", data, "/f"});
    if (result.exitCode != 0) return false;
  }
  return true;
}

bool setTracing(bool on) { return storeSettings({{"IsLogTrace", on ? "1" : "0"}, {"LogLevel", "2"}}); }

bool runOnce(int requests, int rate, RunResult& result) {
  std::unique_ptr<zem::test::ChildProcess> simulator;
  if (!startSimulator(simulator, {"--generate", std::to_string(requests), "--rate", std::to_string(rate), "--item",
                                  "request {ref}", "--item", "second item"})) {
    return false;
  }
  zem::test::ChildProcess& sim = *simulator;

  if (ZemlinkInit(0, nullptr, "127.0.0.1") != ZEM_SUCCESS) return false;
  std::atomic<int> answered{0};
  std::thread application(serve, requests, std::ref(answered));
  const CpuTime cpuBefore = cpuTime();
  const auto started = std::chrono::steady_clock::now();
  if (Zem_RegisterProvider(1) != ZEM_SUCCESS) return false;
  application.join();
  const CpuTime cpuAfter = cpuTime();
  result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  nlohmann::json stats = simulatorStats(sim)["stats"];
  Zem_DeRegisterProvider();
  ZemlinkDeInit();
  sim.writeLine(R"({"cmd":"quit"})");
  sim.wait();

  const auto ms = [&](const char* figure, const char* which) { return stats[figure].value(which, 0) / 1000.0; };
  result.completions = stats.value("completions", 0);
  result.queuedMedianMs = ms("latencyUs", "p50");
  result.queuedP99Ms = ms("latencyUs", "p99");
  result.queuedMaxMs = ms("latencyUs", "max");
  result.deliveredMedianMs = ms("afterDeliveryUs", "p50");
  result.deliveredP99Ms = ms("afterDeliveryUs", "p99");
  result.deliveredMaxMs = ms("afterDeliveryUs", "max");
  result.cpu = {cpuAfter.user - cpuBefore.user, cpuAfter.system - cpuBefore.system,
                cpuAfter.contextSwitches - cpuBefore.contextSwitches};
  return true;
}

double cpuPerRequestUs(const CpuTime& cpu, int requests) { return (cpu.user + cpu.system) * 1e6 / requests; }

// One run in this process, its figures printed as one JSON line.
int runChild(int requests, int rate, bool tracing) {
  const std::filesystem::path root = enterPrivateRoot();
  RunResult run;
  if (!setTracing(tracing) || !runOnce(requests, rate, run)) return 1;
  const std::filesystem::path trace = root / "Corvane/Logs/Pellor/Tarvo_Provider_1.log";
  nlohmann::json figures = {{"completions", run.completions},
                            {"wall", run.wallSeconds},
                            {"queuedMedianMs", run.queuedMedianMs},
                            {"queuedP99Ms", run.queuedP99Ms},
                            {"deliveredMedianMs", run.deliveredMedianMs},
                            {"deliveredP99Ms", run.deliveredP99Ms},
                            {"cpuUs", cpuPerRequestUs(run.cpu, requests)},
                            {"userUs", run.cpu.user * 1e6 / requests},
                            {"systemUs", run.cpu.system * 1e6 / requests},
                            {"switches", static_cast<double>(run.cpu.contextSwitches) / requests},
                            {"traceBytes", std::filesystem::exists(trace) ? std::filesystem::file_size(trace) : 0},
                            {"root", root.string()}};
  std::printf("%s\n", figures.dump().c_str());
  std::fflush(stdout);
  // The store and the trace stay until the process has ended: the
  // library's watchers look at them until then. The parent removes them.
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Runs this program again with the arguments and gives the last JSON line it
// printed that has `key`, or null (with the reason on standard error).
nlohmann::json runFigures(const std::vector<std::string>& arguments, const char* key) {
  std::vector<std::string> argv = {"/proc/self/exe"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const zem::test::ProcessResult child = zem::test::runProcess(argv);
  nlohmann::json figures;
  std::istringstream lines(child.out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_object() && parsed.contains(key)) figures = parsed;
  }
  if (figures.is_object()) std::filesystem::remove_all(figures.value("root", std::string()));
  if (child.exitCode != 0 || figures.is_null()) {
    std::fprintf(stderr, "a run failed (exit %d): %s\n", child.exitCode, child.err.c_str());
    return nullptr;
  }
  return figures;
}

// ---- Throughput ------------------------------------------------------------

// A point offers at least this many requests, so that its 99th percentile
// rests on a hundred samples or more.
constexpr int kMinimumRequests = 100;
// After the last request was offered, the time the provider has to answer
// what is under way; what is still unanswered then counts as left waiting.
constexpr double kGraceSeconds = 1.0;

// The throughput mode's application: answers every request until told to
// stop (ZemlinkDeInit then ends its wait).
struct Application {
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::atomic<int> errorEvents{0};
  int expected = 0;
  std::mutex mutex;
  std::condition_variable allAnswered;

  void run() {
    while (!stop) {
      ZemContainerHandle event = 0;
      if (Zem_GetEvent(ZEM_EVENT_WAIT, &event) != ZEM_SUCCESS || event == 0) continue;
      const int32_t type = Zem_getMessageType(event);
      if (type == ZEM_MSG_REQUEST) {
        answer(event);
        if (++answered == expected) {
          std::lock_guard lock(mutex);
          allAnswered.notify_all();
        }
      } else if (type == ZEM_MSG_ERROR) {
        ++errorEvents;  // the queue overflowed: this point's provider fetches no more
      }
      Zem_ResponseReceived(&event);
    }
  }
};

// One point of the throughput series in this process: `rate` requests a
// second for `seconds` (at least kMinimumRequests) with the fetch burst
// given, the trace off. Its figures are printed as one JSON line.
int runPoint(int rate, int burst, double seconds) {
  const std::filesystem::path root = enterPrivateRoot();
  if (!storeSettings({{"IsLogTrace", "0"}, {"ProviderFetchBurst", std::to_string(burst)}})) return 1;
  const int requests = std::max(kMinimumRequests, static_cast<int>(std::lround(rate * seconds)));
  std::unique_ptr<zem::test::ChildProcess> sim;
  if (!startSimulator(sim, {"--generate", std::to_string(requests), "--rate", std::to_string(rate), "--item",
                            "request {ref}", "--item", "second item"})) {
    return 1;
  }
  if (ZemlinkInit(0, nullptr, "127.0.0.1") != ZEM_SUCCESS) return 1;
  Application application;
  application.expected = requests;
  std::thread applicationThread([&] { application.run(); });
  const CpuTime before = cpuTime();
  const auto started = std::chrono::steady_clock::now();
  const bool registered = Zem_RegisterProvider(1) == ZEM_SUCCESS;
  if (registered) {
    const auto offered = std::chrono::duration<double>(requests / static_cast<double>(rate) + kGraceSeconds);
    std::unique_lock lock(application.mutex);
    application.allAnswered.wait_until(lock, started + std::chrono::duration_cast<std::chrono::nanoseconds>(offered),
                                       [&] { return application.answered >= requests; });
  }
  const CpuTime after = cpuTime();
  const int answered = application.answered;
  std::map<std::string, nlohmann::json> events = simulatorStats(*sim);
  // The generator reports after its last message, which the provider may
  // have answered before that report was out.
  for (std::string line; !events.count("generated") && sim->readLine(line, 10000);) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_object() && event.value("event", "") == "generated") events["generated"] = event;
  }
  application.stop = true;
  Zem_DeRegisterProvider();
  ZemlinkDeInit();
  applicationThread.join();
  sim->writeLine(R"({"cmd":"quit"})");
  sim->wait();
  if (!registered) return 1;

  // A figure of an event, 0 when the event or the figure is missing.
  const auto figure = [&](const char* event, const char* name, const char* which = nullptr) {
    const nlohmann::json& object = events[event];
    if (!object.is_object() || !object.contains(name)) return 0.0;
    const nlohmann::json& value = which == nullptr ? object[name] : object[name].value(which, nlohmann::json(0));
    return value.is_number() ? value.get<double>() : 0.0;
  };
  const double spanSeconds = figure("stats", "spanUs") / 1e6;
  const int completions = static_cast<int>(figure("stats", "completions"));
  const auto ms = [&](const char* name, const char* which) { return figure("stats", name, which) / 1000.0; };
  nlohmann::json figures = {
      {"rate", rate},
      {"burst", burst},
      {"requests", requests},
      {"completions", completions},
      {"open", static_cast<int>(figure("stats", "open"))},
      {"completedPerSecond", spanSeconds > 0 ? completions / spanSeconds : 0.0},
      {"medianMs", ms("latencyUs", "p50")},
      {"p99Ms", ms("latencyUs", "p99")},
      {"withOpenMedianMs", ms("withOpenUs", "p50")},
      {"withOpenP99Ms", ms("withOpenUs", "p99")},
      {"sentPerSecond", figure("generated", "ratePerSecond")},
      {"lateP99Ms", figure("generated", "lateUs", "p99") / 1000.0},
      {"lateMaxMs", figure("generated", "lateUs", "max") / 1000.0},
      {"cpuUs", answered > 0 ? (after.user - before.user + after.system - before.system) * 1e6 / answered : 0.0},
      {"errorEvents", application.errorEvents.load()},
      {"root", root.string()}};
  std::printf("%s\n", figures.dump().c_str());
  std::fflush(stdout);
  return 0;
}

struct ThroughputOptions {
  double seconds = 3;
  std::vector<int> rates = {20, 100, 500, 1000, 2000, 5000};
  std::vector<int> bursts = {1, 100};
  std::filesystem::path out = ".";
};

std::vector<int> parseList(const std::string& text) {
  std::vector<int> values;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) values.push_back(std::atoi(item.c_str()));
  return values;
}

bool parseThroughputOptions(int argc, char** argv, ThroughputOptions& options) {
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (name == "--seconds") {
      options.seconds = std::atof(value.c_str());
    } else if (name == "--rates") {
      options.rates = parseList(value);
    } else if (name == "--bursts") {
      options.bursts = parseList(value);
    } else if (name == "--out") {
      options.out = value;
    } else {
      return false;
    }
  }
  const auto positive = [](const std::vector<int>& values) {
    return !values.empty() && std::all_of(values.begin(), values.end(), [](int v) { return v > 0; });
  };
  return options.seconds > 0 && positive(options.rates) && positive(options.bursts);
}

// A point sustains its rate when every request was answered, at the rate
// offered.
bool sustained(const nlohmann::json& point) {
  return point["open"].get<int>() == 0 && point["errorEvents"].get<int>() == 0 &&
         point["completedPerSecond"].get<double>() >= 0.9 * point["rate"].get<double>();
}

// The table as a person reads it. Where requests were left waiting, the
// times count them at their age at the end, as lower bounds ("≥").
std::string throughputTable(const std::vector<nlohmann::json>& points, double floorUs, double seconds,
                            const double load[2]) {
  std::string text;
  char line[320];
  std::snprintf(line, sizeof line,
                "provider_bench --throughput: one provider, %.0f s of traffic per point (at least %d requests), "
                "trace off\nfloor of this machine per request: %.1f us; load average (1 min) %.2f before, %.2f "
                "after\n\n",
                seconds, kMinimumRequests, floorUs, load[0], load[1]);
  text += line;
  std::snprintf(line, sizeof line, "%5s %9s %9s %9s %11s %10s %10s %10s %10s %8s %6s\n", "burst", "offered/s",
                "sent/s", "late p99", "completed/s", "unanswered", "median ms", "p99 ms", "CPU us/rq", "x floor",
                "errors");
  text += line;
  for (const nlohmann::json& p : points) {
    const bool open = p["open"].get<int>() > 0;
    const auto time = [&](const char* closed, const char* withOpen) {
      char cell[32];
      std::snprintf(cell, sizeof cell, "%s%.2f", open ? ">=" : "", p[open ? withOpen : closed].get<double>());
      return std::string(cell);
    };
    std::snprintf(line, sizeof line, "%5d %9d %9.1f %6.2f ms %11.1f %10d %10s %10s %10.1f %8.2f %6d\n",
                  p["burst"].get<int>(), p["rate"].get<int>(), p["sentPerSecond"].get<double>(),
                  p["lateP99Ms"].get<double>(), p["completedPerSecond"].get<double>(), p["open"].get<int>(),
                  time("medianMs", "withOpenMedianMs").c_str(), time("p99Ms", "withOpenP99Ms").c_str(),
                  p["cpuUs"].get<double>(), floorUs > 0 ? p["cpuUs"].get<double>() / floorUs : 0.0,
                  p["errorEvents"].get<int>());
    text += line;
  }
  text += "\n";
  std::vector<int> bursts;
  for (const nlohmann::json& p : points) {
    if (std::find(bursts.begin(), bursts.end(), p["burst"].get<int>()) == bursts.end()) bursts.push_back(p["burst"]);
  }
  for (int burst : bursts) {
    int best = 0;
    for (const nlohmann::json& p : points) {
      if (p["burst"] == burst && sustained(p) && p["medianMs"].get<double>() < 10) best = std::max(best, p["rate"].get<int>());
    }
    std::snprintf(line, sizeof line, "burst %d: highest offered rate answered in full with a median under 10 ms: %s\n",
                  burst, best > 0 ? (std::to_string(best) + "/s").c_str() : "none of those offered");
    text += line;
  }
  for (const nlohmann::json& p : points) {
    if (p["burst"] != 100 || p["rate"] != 1000) continue;
    const double cpuRatio = floorUs > 0 ? p["cpuUs"].get<double>() / floorUs : 0;
    std::snprintf(line, sizeof line,
                  "burst 100 at 1000/s against its goals: all answered at the offered rate %s, median %.2f ms "
                  "(goal <= 2), p99 %.2f ms (goal <= 20), CPU %.2fx the floor (goal <= 1.5)\n",
                  sustained(p) ? "yes" : "no", p["medianMs"].get<double>(), p["p99Ms"].get<double>(), cpuRatio);
    text += line;
  }
  return text;
}

// The plot: completed per second, queueing to completion and CPU per
// request against the offered rate, one line per burst. False when gnuplot
// could not make it.
bool plotThroughput(const std::vector<nlohmann::json>& points, double floorUs, const std::filesystem::path& png) {
  std::string script =
      "set terminal pngcairo size 900,1100 font 'DejaVu Sans,10'\n"
      "set output '" + png.string() + "'\n"
      "set multiplot layout 3,1 title 'One provider against exchange-sim on loopback: fetch burst 1 (the default) "
      "and 100' font ',12'\n"
      "set logscale x\nset grid\nset key outside right top\nset xlabel 'offered requests per second'\n"
      "set lmargin at screen 0.1\nset rmargin at screen 0.74\n";
  std::vector<int> bursts;
  for (const nlohmann::json& p : points) {
    if (std::find(bursts.begin(), bursts.end(), p["burst"].get<int>()) == bursts.end()) bursts.push_back(p["burst"]);
  }
  int lowest = 0, highest = 0;
  for (const nlohmann::json& p : points) {
    const int rate = p["rate"].get<int>();
    lowest = lowest == 0 ? rate : std::min(lowest, rate);
    highest = std::max(highest, rate);
  }
  script += "set xrange [" + std::to_string(lowest / 1.5) + ":" + std::to_string(highest * 1.5) + "]\n";
  std::string xtics;
  for (const nlohmann::json& p : points) {
    const std::string tic = std::to_string(p["rate"].get<int>());
    if (xtics.find("," + tic + ",") == std::string::npos && xtics.find("(" + tic + ",") == std::string::npos) {
      xtics += (xtics.empty() ? "(" : "") + tic + ",";
    }
  }
  if (!xtics.empty()) xtics.back() = ')';
  script += "set xtics " + xtics + "\n";
  // One data block per burst: rate, completed/s, median, p99, CPU us.
  for (int burst : bursts) {
    script += "$burst" + std::to_string(burst) + " << EOD\n";
    for (const nlohmann::json& p : points) {
      if (p["burst"] != burst) continue;
      const bool open = p["open"].get<int>() > 0;
      char row[160];
      std::snprintf(row, sizeof row, "%d %.2f %.3f %.3f %.2f\n", p["rate"].get<int>(),
                    p["completedPerSecond"].get<double>(), p[open ? "withOpenMedianMs" : "medianMs"].get<double>(),
                    p[open ? "withOpenP99Ms" : "p99Ms"].get<double>(), p["cpuUs"].get<double>());
      script += row;
    }
    script += "EOD\n";
  }
  const auto each = [&](const std::string& column, const std::string& title, const std::string& style) {
    std::string plots;
    for (size_t i = 0; i < bursts.size(); ++i) {
      const std::string b = std::to_string(bursts[i]);
      plots += (plots.empty() ? "" : ", ") + std::string("$burst") + b + " using 1:" + column + " with linespoints lc " +
               std::to_string(i + 1) + " " + style + " title 'burst " + b + title + "'";
    }
    return plots;
  };
  script += "set logscale y\nset ylabel 'completed per second'\n"
            "plot " + each("2", "", "pt 7 lw 2") + ", x with lines dt 2 lc 'gray' title 'offered'\n";
  script += "set ylabel 'queueing to completion, ms'\n"
            "set title 'where requests were left waiting, their age at the end counts (lower bounds)'\n"
            "plot " + each("3", " median", "pt 7 lw 2") + ", " + each("4", " p99", "pt 6 dt 2") +
            ", 10 with lines dt 3 lc 'black' title '10 ms'\n";
  char floorLine[160];
  std::snprintf(floorLine, sizeof floorLine, ", %.2f with lines dt 2 lc 'gray' title 'floor of this machine'\n", floorUs);
  script += "unset title\nset ylabel 'CPU per request, us'\n"
            "plot " + each("5", "", "pt 7 lw 2") + floorLine;
  script += "unset multiplot\n";
  FILE* gnuplot = popen("gnuplot", "w");
  if (gnuplot == nullptr) return false;
  std::fputs(script.c_str(), gnuplot);
  return pclose(gnuplot) == 0;
}

int runThroughput(const ThroughputOptions& options) {
  double load[2] = {0, 0};
  getloadavg(&load[0], 1);
  constexpr int kFloorRounds = 200;
  const CpuTime floor = measureFloor(kFloorRounds);
  const double floorUs = (floor.user + floor.system) * 1e6 / kFloorRounds;
  std::printf("floor of this machine per request: %.1f us\n", floorUs);
  // The bursts take turns at each rate, so that a machine shared with
  // others weighs on them alike.
  std::vector<nlohmann::json> points;
  for (int rate : options.rates) {
    for (int burst : options.bursts) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", options.seconds);
      nlohmann::json point =
          runFigures({"--point", std::to_string(rate), std::to_string(burst), seconds}, "completedPerSecond");
      if (point.is_null()) return 1;
      std::printf("burst %d at %d/s: %.1f completed/s, %d unanswered\n", burst, rate,
                  point["completedPerSecond"].get<double>(), point["open"].get<int>());
      std::fflush(stdout);
      points.push_back(std::move(point));
    }
  }
  std::sort(points.begin(), points.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
    return std::pair(a["burst"].get<int>(), a["rate"].get<int>()) < std::pair(b["burst"].get<int>(), b["rate"].get<int>());
  });
  getloadavg(&load[1], 1);
  const std::string table = throughputTable(points, floorUs, options.seconds, load);
  std::printf("\n%s", table.c_str());
  std::filesystem::create_directories(options.out);
  const std::filesystem::path text = options.out / "provider-throughput.txt";
  const std::filesystem::path png = options.out / "provider-throughput.png";
  std::ofstream(text) << table;
  std::printf("written: %s\n", text.c_str());
  if (plotThroughput(points, floorUs, png)) {
    std::printf("written: %s\n", png.c_str());
  } else {
    std::fprintf(stderr, "provider_bench: gnuplot did not make %s (scripts/setup installs it)\n", png.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--run") {
    return runChild(std::atoi(argv[2]), std::atoi(argv[3]), std::string(argv[4]) == "on");
  }
  if (argc == 5 && std::string(argv[1]) == "--point") {
    return runPoint(std::atoi(argv[2]), std::atoi(argv[3]), std::atof(argv[4]));
  }
  if (argc > 1 && std::string(argv[1]) == "--throughput") {
    ThroughputOptions options;
    if (!parseThroughputOptions(argc, argv, options)) {
      std::fprintf(stderr,
                   "usage: provider_bench --throughput [--seconds S] [--rates 20,100,...] [--bursts 1,100] "
                   "[--out DIR]\n");
      return 2;
    }
    return runThroughput(options);
  }
  const int requests = argc > 1 ? std::atoi(argv[1]) : 300;
  const int rate = argc > 2 ? std::atoi(argv[2]) : 20;
  const int pairs = argc > 3 ? std::atoi(argv[3]) : 3;
  if (requests <= 0 || rate <= 0 || pairs <= 0) {
    std::fprintf(stderr, "usage: provider_bench [requests] [requests per second] [pairs]\n");
    return 2;
  }

  // Each run in a process of its own, tracing off and on (level 2, the
  // provider's lines) taking turns, so that a machine shared with others
  // weighs on both alike; the medians are compared.
  std::printf("provider_bench: %d pairs of runs, %d requests at %d/s each\n", pairs, requests, rate);
  std::printf("%-8s %10s %10s %12s %12s %12s %10s %10s\n", "tracing", "CPU us/rq", "switches", "queued p50",
              "deliv. p50", "deliv. p99", "trace B/rq", "completed");
  std::vector<double> cpu[2], queued[2], delivered[2];
  for (int pair = 0; pair < pairs; ++pair) {
    for (int on = 0; on < 2; ++on) {
      nlohmann::json figures =
          runFigures({"--run", std::to_string(requests), std::to_string(rate), on ? "on" : "off"}, "cpuUs");
      if (figures.is_null()) return 1;
      cpu[on].push_back(figures["cpuUs"]);
      queued[on].push_back(figures["queuedMedianMs"]);
      delivered[on].push_back(figures["deliveredMedianMs"]);
      std::printf("%-8s %10.1f %10.1f %9.3f ms %9.3f ms %9.3f ms %10.0f %10d\n", on ? "on" : "off",
                  figures["cpuUs"].get<double>(), figures["switches"].get<double>(),
                  figures["queuedMedianMs"].get<double>(), figures["deliveredMedianMs"].get<double>(),
                  figures["deliveredP99Ms"].get<double>(), figures["traceBytes"].get<double>() / requests,
                  figures["completions"].get<int>());
    }
  }
  const double cpuOff = median(cpu[0]), cpuOn = median(cpu[1]);
  std::printf("medians: CPU per request off %.1f us, on %.1f us: %+.1f us (%+.1f%%, goal <= +15%%)\n", cpuOff, cpuOn,
              cpuOn - cpuOff, (cpuOn - cpuOff) * 100 / cpuOff);
  std::printf("         latency queued -> completion %+.3f ms, delivered -> completion %+.3f ms (goal <= +0.1 ms)\n",
              median(queued[1]) - median(queued[0]), median(delivered[1]) - median(delivered[0]));
  const int floorRounds = std::min(requests, 200);
  const CpuTime floor = measureFloor(floorRounds);
  std::printf("floor of this machine per request: %.1f us (the same wake-ups without the library, %d rounds)\n",
              (floor.user + floor.system) * 1e6 / floorRounds, floorRounds);
  return 0;
}
