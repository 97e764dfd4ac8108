// sql-provider: a service provider configured instead of written. It
// answers the data-exchange server's requests from an SQL database (SQLite
// or PostgreSQL) with the statements of one INI file, and records the
// informational messages with another. It uses libzemlink.so through
// zemlink.h alone.
//
// The main thread starts everything and then watches: signals (SIGTERM and
// SIGINT end it, SIGHUP reads the file again), registrations after a lost
// connection to the server, and the line of counts it prints every minute.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "config.h"
#include "connection_keeper.h"
#include "counters.h"
#include "item_text.h"
#include "database.h"
#include "info_store.h"
#include "library_link.h"
#include "output.h"
#include "request_workers.h"
#include "zemlink.h"

namespace sqlprovider {
namespace {

constexpr char kUsage[] =
    "Usage: sql-provider [--check] [--counts-every S] FILE\n"
    "Answers the data-exchange server's requests from an SQL database (SQLite or\n"
    "PostgreSQL) as FILE, an INI file, says; records informational messages there.\n"
    "  --check           check FILE and prepare each statement against the database,\n"
    "                    then exit: 0 when all is sound, 1 naming each wrong line\n"
    "  --counts-every S  print the line of counts every S seconds (default 60)\n"
    "  --help            this text\n"
    "  --version         the version of sql-provider\n"
    "SIGTERM or SIGINT de-registers and ends; SIGHUP reads FILE again.\n";

// How long the end may take: requests under way are answered first, then
// the registration ends, then queued informational messages are stored.
constexpr auto kAnswerPendingLimit = std::chrono::milliseconds(2000);
constexpr auto kStorePendingLimit = std::chrono::milliseconds(2000);

std::string describeSettings(const Config& config) {
  size_t named = 0;
  for (const Query& query : config.queries) named += query.name.empty() ? 0 : 1;
  std::string text = std::to_string(config.queries.size()) + (config.queries.size() == 1 ? " query" : " queries");
  if (named > 0) text += " (chosen by item " + std::to_string(config.queryItem) + ")";
  text += config.informational ? ", informational messages recorded" : ", informational messages not recorded";
  return text + "; " + databaseName(config.database) + ", " + std::to_string(config.database.connections) +
         (config.database.connections == 1 ? " connection" : " connections");
}

// Before serving, a fault goes to standard error and ends the program;
// while serving (the file read again), it is one more line of the output.
enum class Report { toError, toOutput };

void printProblems(Report report, const std::string& path, const std::vector<ConfigProblem>& problems) {
  for (const ConfigProblem& problem : problems) {
    if (report == Report::toError) {
      std::cerr << describe(path, problem) << "\n";
    } else {
      say("reload: " + describe(path, problem));
    }
  }
}

// Reads the file and prepares every statement on one connection.
std::shared_ptr<const Config> loadAndPrepare(const std::string& path, Report report) {
  LoadedConfig loaded = loadConfig(path);
  if (!loaded.config) {
    printProblems(report, path, loaded.problems);
    return nullptr;
  }
  std::vector<ConfigProblem> problems;
  if (!openPrepared(*loaded.config, problems)) {
    printProblems(report, path, problems);
    return nullptr;
  }
  return std::make_shared<const Config>(std::move(*loaded.config));
}

// The library reads its port from "zemlink.ini" in the current directory.
// When the file names [RPC] PORT, that directory is one of the program's
// own: systemd's RuntimeDirectory, else a fresh one in $TMPDIR.
class LibraryDirectory {
 public:
  ~LibraryDirectory() {
    if (!made_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(made_, ignored);
    }
  }
  bool use(const Config& config) {
    if (config.port.empty()) {
      // ./zemlink.ini, as for any program of the library; in a directory of
      // our own (settings read again) the library's default port.
      if (!directory_.empty()) std::remove((directory_ + "/zemlink.ini").c_str());
      return true;
    }
    if (directory_.empty()) {
      const char* runtime = std::getenv("RUNTIME_DIRECTORY");
      if (runtime != nullptr && runtime[0] != '\0') {
        directory_ = std::string(runtime).substr(0, std::string(runtime).find(':'));
      } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/sql-provider-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
          std::cerr << "sql-provider: cannot make a directory for zemlink.ini: " << std::strerror(errno) << "\n";
          return false;
        }
        directory_ = made_ = pattern;
      }
    }
    const std::string file = directory_ + "/zemlink.ini";
    {
      std::ofstream out(file + ".new");
      out << "[RPC]\nPORT=" << config.port << "\n";
      if (!out) {
        std::cerr << "sql-provider: cannot write " << file << "\n";
        return false;
      }
    }
    std::error_code error;
    std::filesystem::rename(file + ".new", file, error);
    if (error || chdir(directory_.c_str()) != 0) {
      std::cerr << "sql-provider: cannot use " << directory_ << " for zemlink.ini\n";
      return false;
    }
    return true;
  }

 private:
  std::string directory_;
  std::string made_;
};

// Registering, and again after a lost connection: one attempt at once, then
// further ones after a pause that doubles from 1 s up to 10 s.
class Registration {
 public:
  void start(uint32_t id, const std::string& address) {
    id_ = id;
    address_ = address;
    pending_ = true;
    attempt_ = 0;
    pause_ = std::chrono::seconds(1);
    nextAt_ = Clock::now();
  }
  void attemptIfDue() {
    if (!pending_ || Clock::now() < nextAt_) return;
    ++attempt_;
    const int result = Zem_RegisterProvider(id_);
    if (result == ZEM_SUCCESS) {
      pending_ = false;
      say("registered as provider " + std::to_string(id_) + " with " + address_ +
          (attempt_ > 1 ? " (attempt " + std::to_string(attempt_) + ")" : ""));
      return;
    }
    say("registration attempt " + std::to_string(attempt_) + " failed with " + std::to_string(result) +
        "; next attempt in " + std::to_string(pause_.count()) + " s");
    nextAt_ = Clock::now() + pause_;
    pause_ = std::min<std::chrono::seconds>(pause_ * 2, std::chrono::seconds(10));
  }
  bool pending() const { return pending_; }
  Clock::time_point nextAt() const { return nextAt_; }

 private:
  uint32_t id_ = 0;
  std::string address_;
  bool pending_ = false;
  int attempt_ = 0;
  std::chrono::seconds pause_{1};
  Clock::time_point nextAt_{};
};

// SIGHUP: the file read again. Settings that prepare on the database
// replace those in force; new server settings mean a new registration.
void reload(std::shared_ptr<const Config>& config, LibraryDirectory& libraryDirectory, Registration& registration) {
  say("SIGHUP: reading " + config->path + " again");
  std::shared_ptr<const Config> fresh = loadAndPrepare(config->path, Report::toOutput);
  if (!fresh) {
    say("reload: the settings in force stay");
    return;
  }
  if (!fresh->sameServer(*config)) {
    Zem_DeRegisterProvider();
    const Config* server = fresh.get();
    if (!libraryDirectory.use(*fresh) || ZemlinkInit(0, nullptr, fresh->serverAddress.c_str()) != ZEM_SUCCESS) {
      say("reload: the new server settings cannot be used; the settings in force stay");
      server = config.get();
      libraryDirectory.use(*server);
      ZemlinkInit(0, nullptr, server->serverAddress.c_str());
      fresh.reset();
    }
    registration.start(server->providerId, server->serverAddress);
    if (!fresh) return;
  }
  config = fresh;
  say("reload: " + describeSettings(*config));
}

int check(const std::string& path) {
  const std::shared_ptr<const Config> config = loadAndPrepare(path, Report::toError);
  if (!config) return 1;
  std::cout << path << ": sound; " << describeSettings(*config) << "\n";
  return 0;
}

int serve(const std::string& path, int countsEverySeconds) {
  std::shared_ptr<const Config> config = loadAndPrepare(path, Report::toError);
  if (!config) return 1;

  // The signals are taken from a descriptor by the main thread alone: every
  // thread (the library's too) is made with them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (signalFd < 0 || wakeFd < 0) {
    std::cerr << "sql-provider: no descriptor for signals: " << std::strerror(errno) << "\n";
    return 1;
  }

  LibraryDirectory libraryDirectory;
  if (!libraryDirectory.use(*config)) return 1;
  int result = ZemlinkInit(0, nullptr, config->serverAddress.c_str());
  if (result != ZEM_SUCCESS) {
    std::cerr << "sql-provider: ZemlinkInit(" << config->serverAddress << ") failed with " << result << "\n";
    return 1;
  }
  say("sql-provider " ZEMLINK_VERSION ": provider " + std::to_string(config->providerId) + " for " +
      config->serverAddress + (config->port.empty() ? "" : " port " + config->port) + "; " + describeSettings(*config));

  Counters counters;
  RequestWorkers workers(counters);
  InfoStore infoStore(counters);
  workers.configure(config);
  infoStore.configure(config);
  std::atomic<bool> lost{false};
  EventTaker events({
      [&](MessageFields request) { workers.submit(std::move(request)); },
      [&](MessageFields message) { infoStore.add(std::move(message)); },
      [&] {
        lost = true;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = write(wakeFd, &one, sizeof one);
      },
  });

  Registration registration;
  registration.start(config->providerId, config->serverAddress);
  registration.attemptIfDue();
  const auto countsEvery = std::chrono::seconds(countsEverySeconds);
  auto countsAt = Clock::now() + countsEvery;
  bool stopping = false;
  while (!stopping) {
    auto next = countsAt;
    if (registration.pending()) next = std::min(next, registration.nextAt());
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    poll(fds, 2, static_cast<int>(std::clamp<long long>(wait + 1, 0, 60000)));
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t ignored = read(wakeFd, &count, sizeof count);
    }
    if (lost.exchange(false)) {
      say("error event: the connection to the server is lost; registering again");
      if (!registration.pending()) registration.start(config->providerId, config->serverAddress);
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(signalFd, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGHUP) {
          reload(config, libraryDirectory, registration);
          workers.configure(config);
          infoStore.configure(config);
        } else {
          say(std::string(info.ssi_signo == SIGTERM ? "SIGTERM" : "SIGINT") + ": ending");
          stopping = true;
        }
      }
    }
    if (!stopping) registration.attemptIfDue();
    if (Clock::now() >= countsAt) {
      say("counts for the last " + std::to_string(countsEverySeconds) + " s: " + counters.span().text());
      countsAt += countsEvery;
      if (countsAt < Clock::now()) countsAt = Clock::now() + countsEvery;
    }
  }

  // What was taken is answered while still registered; then the
  // registration ends, so the server sends nothing more.
  if (!workers.waitIdle(kAnswerPendingLimit)) say("requests still unanswered after 2 s");
  result = Zem_DeRegisterProvider();
  say("de-registered: " + std::to_string(result));
  events.stop();
  workers.stop();
  infoStore.stop(kStorePendingLimit);
  ZemlinkDeInit();  // ends the event thread's wait
  events.join();
  say("in all: " + counters.total().text());
  close(signalFd);
  close(wakeFd);
  return 0;
}

}  // namespace
}  // namespace sqlprovider

int main(int argc, char** argv) {
  using namespace sqlprovider;
  // Rows hold UTF-8, and the library reads items in the locale's encoding.
  if (!useUtf8Locale()) std::cerr << "sql-provider: no UTF-8 locale; items beyond ASCII will be refused\n";
  bool checkOnly = false;
  int countsEvery = 60;
  std::optional<std::string> file;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (argument == "--version") {
      std::cout << "sql-provider " ZEMLINK_VERSION "\n";
      return 0;
    } else if (argument == "--check") {
      checkOnly = true;
    } else if (argument == "--counts-every" && i + 1 < argc) {
      countsEvery = std::atoi(argv[++i]);
      if (countsEvery < 1) {
        std::cerr << "sql-provider: --counts-every takes a number of seconds, 1 or more\n" << kUsage;
        return 2;
      }
    } else if (!argument.empty() && argument[0] != '-' && !file) {
      file = argument;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (!file) {
    std::cerr << kUsage;
    return 2;
  }
  return checkOnly ? check(*file) : serve(*file, countsEvery);
}
