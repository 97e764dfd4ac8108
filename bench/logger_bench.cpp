// logMsg beside spdlog, in one run.
//
// Both loggers write the same message (one integer, one short string) to a
// rotating set of five 10 MiB files; spdlog as an asynchronous logger, as
// ours is, flushing after every line; ours flushes whenever its logging
// thread has emptied the queue (so a line reaches the file before the thread
// waits again), which is what its throughput figure shows. One and then two calling threads log in
// rounds of a burst each, and the round ends when the last line of the burst
// has been written. Reported per logger and thread count:
//   - the calling thread's time per call, median and 99th percentile;
//   - lines written per second, from the start of a round until its last line
//     is written, over all rounds.
// The burst stays within our pool (1500 records), so that no line is dropped
// and both loggers write every line.
//
// The rounds are split into trials that alternate between the two loggers,
// so that both meet the same conditions of a shared machine (whether the
// logging thread finds a core of its own changes the callers' times most);
// the figures pool the samples of all trials.
//
// Usage: logger_bench [rounds] [trials]   (default 200 rounds in 10 trials)
#include <spdlog/async.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logger/generic_logger.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBurstPerThread = 600;
constexpr size_t kFileSize = 10 * 1048576;
constexpr size_t kFiles = 5;

// The rotating file sink, counting the lines it has written.
class CountingRotatingSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit CountingRotatingSink(const std::string& file)
      : inner_(std::make_shared<spdlog::sinks::rotating_file_sink_st>(file, kFileSize, kFiles)) {}
  uint64_t written() const { return written_.load(); }

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    inner_->log(message);
    written_.fetch_add(1);
  }
  void flush_() override { inner_->flush(); }

 private:
  std::shared_ptr<spdlog::sinks::rotating_file_sink_st> inner_;
  std::atomic<uint64_t> written_{0};
};

// What the trials of one logger have gathered.
struct Samples {
  std::vector<double> latenciesNs;  // one per call, all threads
  double busySeconds = 0;
  uint64_t lines = 0;
};

struct Result {
  double medianNs = 0;
  double p99Ns = 0;
  double linesPerSecond = 0;
};

Result summarize(Samples& samples) {
  std::vector<double>& all = samples.latenciesNs;
  std::sort(all.begin(), all.end());
  Result result;
  result.medianNs = all[all.size() / 2];
  result.p99Ns = all[all.size() * 99 / 100];
  result.linesPerSecond = static_cast<double>(samples.lines) / samples.busySeconds;
  return result;
}

// Runs `rounds` bursts on `threads` threads and adds them to `into`; log(i)
// makes one entry and written() tells how many lines have reached the file.
template <typename Log, typename Written>
void measure(int threads, int rounds, Log log, Written written, Samples& into) {
  std::vector<std::vector<double>> latencies(threads);
  for (auto& samples : latencies) samples.reserve(static_cast<size_t>(kBurstPerThread) * rounds);
  double busySeconds = 0;
  uint64_t lines = 0;
  for (int round = 0; round < rounds; ++round) {
    const uint64_t before = written();
    const uint64_t expected = before + static_cast<uint64_t>(threads) * kBurstPerThread;
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
      callers.emplace_back([&, t] {
        for (int i = 0; i < kBurstPerThread; ++i) {
          const Clock::time_point a = Clock::now();
          log(i);
          const Clock::time_point b = Clock::now();
          latencies[t].push_back(std::chrono::duration<double, std::nano>(b - a).count());
        }
      });
    }
    for (std::thread& caller : callers) caller.join();
    while (written() < expected) std::this_thread::yield();
    busySeconds += std::chrono::duration<double>(Clock::now() - start).count();
    lines += expected - before;
  }
  for (auto& samples : latencies) into.latenciesNs.insert(into.latenciesNs.end(), samples.begin(), samples.end());
  into.busySeconds += busySeconds;
  into.lines += lines;
}

void runOurs(const std::string& directory, int threads, int rounds, Samples& into) {
  auto logger = std::make_unique<GenericLogger>(directory.c_str(), "Bench.log", 2, 10, false, 5);
  if (!logger->startLogging()) {
    std::fprintf(stderr, "logger did not start\n");
    std::exit(1);
  }
  measure(
      threads, rounds, [&](int i) { logger->logMsg(2, "request %d from %s", i, "pump"); },
      [&] { return static_cast<uint64_t>(logger->messageCounts().logged); }, into);
  const GenericLogger::MessageCounts counts = logger->messageCounts();
  logger->stopLogging();
  if (counts.lost != 0 || counts.replaced != 0) {
    std::fprintf(stderr, "our logger dropped lines: lost %u, replaced %u\n", counts.lost, counts.replaced);
  }
}

void runSpdlog(const std::string& directory, int threads, int rounds, Samples& into) {
  spdlog::init_thread_pool(8192, 1);
  auto sink = std::make_shared<CountingRotatingSink>(directory + "/spd.log");
  auto logger = std::make_shared<spdlog::async_logger>("bench", sink, spdlog::thread_pool(),
                                                       spdlog::async_overflow_policy::block);
  logger->flush_on(spdlog::level::trace);  // flush every line
  measure(
      threads, rounds, [&](int i) { logger->info("request {} from {}", i, "pump"); },
      [&] { return sink->written(); }, into);
  logger.reset();
  spdlog::shutdown();
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const int trials = std::min(rounds, argc > 2 ? std::max(1, std::atoi(argv[2])) : 10);
  char pattern[] = "/tmp/zemlink-logger-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string root = pattern;
  setenv("ZEMLINK_ROOT", root.c_str(), 1);

  std::printf("%d rounds of %d entries per thread in %d alternating trials; times per call in ns\n", rounds,
              kBurstPerThread, trials);
  std::printf("%-8s %-7s %10s %10s %14s\n", "logger", "threads", "median", "p99", "lines/s");
  for (int threads : {1, 2}) {
    Samples oursSamples;
    Samples spdSamples;
    for (int trial = 0; trial < trials; ++trial) {
      // The rounds shared out evenly, the first trials taking the remainder.
      const int trialRounds = rounds / trials + (trial < rounds % trials ? 1 : 0);
      const std::string suffix = std::to_string(threads) + "-" + std::to_string(trial);
      const std::string spdDir = root + "/spdlog" + suffix;
      std::filesystem::create_directories(spdDir);
      runOurs(root + "/ours" + suffix, threads, trialRounds, oursSamples);
      runSpdlog(spdDir, threads, trialRounds, spdSamples);
    }
    const Result ours = summarize(oursSamples);
    const Result spd = summarize(spdSamples);
    std::printf("%-8s %-7d %10.0f %10.0f %14.0f\n", "zemlink", threads, ours.medianNs, ours.p99Ns,
                ours.linesPerSecond);
    std::printf("%-8s %-7d %10.0f %10.0f %14.0f\n", "spdlog", threads, spd.medianNs, spd.p99Ns, spd.linesPerSecond);
    std::printf("ratios, %d thread(s): median latency ours/spdlog %.2f (goal <= 1), p99 %.2f, "
                "throughput ours/spdlog %.2f (goal >= 0.80)\n",
                threads, ours.medianNs / spd.medianNs, ours.p99Ns / spd.p99Ns, ours.linesPerSecond / spd.linesPerSecond);
  }
  std::filesystem::remove_all(root);
  return 0;
}
