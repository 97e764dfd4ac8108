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
#include <sys/resource.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sstream>
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

// The application: waits for events and answers every request.
void serve(int requests, std::atomic<int>& answered) {
  while (answered < requests) {
    ZemContainerHandle event = 0;
    if (Zem_GetEvent(ZEM_EVENT_WAIT, &event) != ZEM_SUCCESS || event == 0) continue;
    if (Zem_getMessageType(event) == ZEM_MSG_REQUEST) {
      ZemContainerHandle completion = Zem_createDataContainer();
      Zem_setMessageType(completion, ZEM_MSG_COMPLETION);
      Zem_setServerID(completion, Zem_getServerID(event));
      Zem_setFirstItem(completion, Zem_getFirstItem(event));
      for (int i = 1; i < ZEM_MAX_ITEMS; ++i) Zem_setNextItem(completion, "answer text of a typical length");
      if (Zem_SendServiceComplete(&completion) != ZEM_SUCCESS) std::fprintf(stderr, "a completion failed\n");
      Zem_ResponseReceived(&completion);
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

// One run: a fresh exchange-sim generates the requests, the provider binds,
// registers, serves them all, and goes again.
struct RunResult {
  double wallSeconds = 0;
  int completions = 0;
  double queuedMedianMs = 0, queuedP99Ms = 0, queuedMaxMs = 0;
  double deliveredMedianMs = 0, deliveredP99Ms = 0, deliveredMaxMs = 0;
  CpuTime cpu;
};

bool setTracing(bool on) {
  const std::string key = "HKLM\\SOFTWARE\\Brasken\\Quorin\\Tarvo";
  for (const auto& [value, data] : {std::pair<std::string, std::string>{"IsLogTrace", on ? "1" : "0"}, {"LogLevel", "2"}}) {
    const zem::test::ProcessResult result =
        zem::test::runProcess({ZEMREG, "add", key, "/v", value, "/t", "REG_DWORD", "/d", data, "/f"});
    if (result.exitCode != 0) return false;
  }
  return true;
}

bool runOnce(int requests, int rate, RunResult& result) {
  zem::test::ChildProcess sim({EXCHANGE_SIM, "--port", "0", "--quiet", "--generate", std::to_string(requests),
                               "--rate", std::to_string(rate), "--item", "request {ref}", "--item", "second item"});
  std::string line;
  if (!sim.readLine(line, 10000)) return false;
  const int port = nlohmann::json::parse(line).value("port", 0);
  std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << port << "\n";

  if (ZemlinkInit(0, nullptr, "127.0.0.1") != ZEM_SUCCESS) return false;
  std::atomic<int> answered{0};
  std::thread application(serve, requests, std::ref(answered));
  const CpuTime cpuBefore = cpuTime();
  const auto started = std::chrono::steady_clock::now();
  if (Zem_RegisterProvider(1) != ZEM_SUCCESS) return false;
  application.join();
  const CpuTime cpuAfter = cpuTime();
  result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  sim.writeLine(R"({"cmd":"stats"})");
  nlohmann::json stats;
  while (sim.readLine(line, 10000)) {
    stats = nlohmann::json::parse(line, nullptr, false);
    if (stats.value("event", "") == "stats") break;
  }
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
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("zemlink-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  setenv("ZEMLINK_ROOT", root.c_str(), 1);
  std::filesystem::current_path(root);
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--run") {
    return runChild(std::atoi(argv[2]), std::atoi(argv[3]), std::string(argv[4]) == "on");
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
      const zem::test::ProcessResult child = zem::test::runProcess(
          {"/proc/self/exe", "--run", std::to_string(requests), std::to_string(rate), on ? "on" : "off"});
      nlohmann::json figures;
      std::istringstream lines(child.out);
      for (std::string line; std::getline(lines, line);) {
        const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        if (parsed.is_object() && parsed.contains("cpuUs")) figures = parsed;
      }
      if (figures.is_object()) std::filesystem::remove_all(figures.value("root", std::string()));
      if (child.exitCode != 0 || figures.is_null()) {
        std::fprintf(stderr, "a run failed (exit %d): %s\n", child.exitCode, child.err.c_str());
        return 1;
      }
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
