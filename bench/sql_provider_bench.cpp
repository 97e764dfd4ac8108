// sql-provider under a steady stream of requests: exchange-sim generates
// them at a fixed rate (a share of them informational messages), each
// request's item 1 names an account of an indexed table of 10000, and
// sql-provider answers from SQLite and from PostgreSQL (a server of the
// bench's own, as the tests start it). Beside it, console-provider under the
// same stream, answering without a database: the pace and the CPU of the
// library itself.
//
// Reported per run: requests and completions, the time from queueing a
// request to its completion as the simulator measures it (median and 99th
// percentile), and the provider process's CPU time, per request and as a
// share of one core. Every provider fetches with the library's fetch burst
// ("ProviderFetchBurst") given, 1 (one message per 30 ms cycle) unless told.
//
//   sql_provider_bench [requests, default 1500] [per second, default 30] [informational share, default 0.25]
//                      [fetch burst, default 1]
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "sql_provider/postgres_server.h"
#include "support/process.h"

namespace {

using nlohmann::json;

// The CPU seconds a process has used so far (user and system).
double cpuSeconds(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14 || index == 15) ticks += std::stod(field);
    if (index == 15) break;
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::vector<std::string> accountsSql() {
  std::vector<std::string> statements = {
      "CREATE TABLE accounts (number TEXT PRIMARY KEY, name TEXT NOT NULL, balance TEXT NOT NULL)",
      "CREATE TABLE events (received TEXT, ref INTEGER, call INTEGER, kind TEXT)"};
  std::string insert = "INSERT INTO accounts VALUES ";
  for (int n = 1; n <= 10000; ++n) {
    insert += (n == 1 ? "" : ",") + std::string("('acct-") + std::to_string(n) + "', 'Customer " + std::to_string(n) +
              "', '" + std::to_string(n * 7 % 10000) + ".00')";
  }
  statements.push_back(insert);
  return statements;
}

const char kStatements[] =
    "[query]\n"
    "sql = SELECT name, balance FROM accounts WHERE number = $1\n"
    "[informational]\n"
    "sql = INSERT INTO events VALUES ($received, $ref, $call, $1)\n";

struct Run {
  std::string name;
  long requests = 0;
  long completions = 0;
  double p50Ms = 0, p99Ms = 0;
  double cpuSeconds = 0;
  double wallSeconds = 0;
  std::string note;
};

// One run: the simulator generates `messages`, the provider serves them.
Run serve(const std::string& name, const std::vector<std::string>& provider, const std::string& configTemplate,
          const std::string& folder, int messages, double rate, double infoShare) {
  Run run;
  run.name = name;
  zem::test::ChildProcess sim({EXCHANGE_SIM, "--port", "0", "--quiet", "--generate", std::to_string(messages), "--rate",
                               std::to_string(rate), "--info-share", std::to_string(infoShare), "--item",
                               "acct-{ref}"});
  std::string line;
  int port = 0;
  if (sim.readLine(line, 10000)) port = json::parse(line, nullptr, false).value("port", 0);
  std::ofstream(folder + "/zemlink.ini") << "[RPC]\nPORT=" << port << "\n";
  std::string config = configTemplate;
  config.replace(config.find("@PORT@"), 6, std::to_string(port));
  std::ofstream(folder + "/provider.ini") << config;

  std::filesystem::current_path(folder);
  zem::test::ChildProcess program(provider);
  // Its output is read all along: a pipe left full would hold it up.
  std::vector<std::string> output;
  auto drain = [&](int timeoutMs) {
    while (program.readLine(line, timeoutMs)) {
      output.push_back(line);
      if (timeoutMs > 0) return;
    }
  };
  while (program.readLine(line, 10000)) {
    output.push_back(line);
    if (line.find("regist") != std::string::npos) break;
  }
  const auto start = std::chrono::steady_clock::now();
  const double cpuAtStart = cpuSeconds(program.pid());
  const auto generated = start + std::chrono::milliseconds(static_cast<long>(messages / rate * 1000));
  // The simulator counts the completions: asked once a second until none
  // came for 3 s after the last message was generated.
  long last = -1;
  auto lastChange = start;
  json stats;
  while (true) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    drain(0);
    sim.writeLine(R"({"cmd":"stats"})");
    while (sim.readLine(line, 5000)) {
      const json event = json::parse(line, nullptr, false);
      if (event.is_object() && event.value("event", "") == "stats") {
        stats = event;
        break;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    const long completions = stats.value("completions", 0L);
    if (completions != last) {
      last = completions;
      lastChange = now;
    }
    if ((now > generated && now - lastChange > std::chrono::seconds(3)) || now - lastChange > std::chrono::seconds(20)) break;
  }
  run.wallSeconds = std::chrono::duration<double>(lastChange - start).count();
  run.cpuSeconds = cpuSeconds(program.pid()) - cpuAtStart;
  run.completions = stats.value("completions", 0L);
  if (stats.contains("latencyUs")) {
    run.p50Ms = stats["latencyUs"].value("p50", 0.0) / 1000.0;
    run.p99Ms = stats["latencyUs"].value("p99", 0.0) / 1000.0;
  }
  ::kill(program.pid(), SIGTERM);
  drain(0);
  while (program.readLine(line, 10000)) output.push_back(line);
  program.wait();
  for (const std::string& said : output) {
    if (said.rfind("in all: requests ", 0) == 0) {
      run.requests = std::atol(said.c_str() + 17);
      run.note = said.substr(8, said.find(';') - 8);
    } else if (said.rfind("served ", 0) == 0) {
      run.requests = std::atol(said.c_str() + 7);
      run.note = said;
    }
  }
  sim.writeLine(R"({"cmd":"quit"})");
  sim.wait();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int messages = argc > 1 ? std::atoi(argv[1]) : 1500;
  const double rate = argc > 2 ? std::atof(argv[2]) : 30;
  const double infoShare = argc > 3 ? std::atof(argv[3]) : 0.25;
  const int burst = argc > 4 ? std::atoi(argv[4]) : 1;
  std::string folder = (std::filesystem::temp_directory_path() / "sql-provider-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return 1;
  setenv("ZEMLINK_ROOT", folder.c_str(), 1);
  const zem::test::ProcessResult stored =
      zem::test::runProcess({ZEMREG, "add", "HKLM\\SOFTWARE\\Brasken\\Quorin\\Tarvo", "/v", "ProviderFetchBurst",
                             "/t", "REG_DWORD", "/d", std::to_string(burst), "/f"});
  if (stored.exitCode != 0) {
    std::fprintf(stderr, "sql_provider_bench: zemreg could not store the fetch burst: %s\n", stored.err.c_str());
    return 1;
  }
  const std::string server = "[server]\naddress = 127.0.0.1\nprovider = 42\n[RPC]\nPORT = @PORT@\n";
  std::printf("%d messages at %.0f per second (%.0f%% informational), accounts looked up by an indexed key, fetch burst %d\n",
              messages, rate, infoShare * 100, burst);

  std::vector<Run> runs;
  runs.push_back(serve("console-provider", {CONSOLE_PROVIDER, "--id", "42"}, server, folder, messages, rate,
                       infoShare));

  sqlite3* db = nullptr;
  sqlite3_open((folder + "/bench.db").c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);  // as the example database
  for (const std::string& statement : accountsSql()) sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr);
  runs.push_back(serve("sql-provider, SQLite", {SQL_PROVIDER, folder + "/provider.ini"},
                       server + "[database]\nfile = " + folder + "/bench.db\n" + kStatements, folder, messages, rate,
                       infoShare));
  sqlite3_stmt* count = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM events", -1, &count, nullptr);
  if (sqlite3_step(count) == SQLITE_ROW) runs.back().note += ", " + std::to_string(sqlite3_column_int(count, 0)) + " rows in events";
  sqlite3_finalize(count);
  sqlite3_close(db);

  zem::test::PostgresServer postgres;
  if (postgres.problem().empty() && postgres.start()) {
    for (const std::string& statement : accountsSql()) postgres.execute(statement);
    runs.push_back(serve("sql-provider, PostgreSQL", {SQL_PROVIDER, folder + "/provider.ini"},
                         server + "[database]\ntype = postgresql\nconnect = " + postgres.connection() + "\n" + kStatements,
                         folder, messages, rate, infoShare));
    runs.back().note += ", " + std::to_string(postgres.pairs("SELECT 1, count(*) FROM events")[1]) + " rows in events";
    postgres.stop();
  } else {
    std::printf("(no PostgreSQL run: %s)\n", postgres.problem().c_str());
  }

  std::printf("\n%-26s %9s %11s %9s %9s %10s %12s %8s\n", "provider", "requests", "completions", "p50 ms", "p99 ms",
              "CPU s", "CPU/request", "of core");
  for (const Run& run : runs) {
    const double perRequest = run.completions > 0 ? run.cpuSeconds / static_cast<double>(run.completions) * 1e6 : 0;
    std::printf("%-26s %9ld %11ld %9.2f %9.2f %10.2f %9.0f us %7.2f%%\n", run.name.c_str(), run.requests,
                run.completions, run.p50Ms, run.p99Ms, run.cpuSeconds, perRequest,
                run.wallSeconds > 0 ? run.cpuSeconds / run.wallSeconds * 100 : 0);
  }
  for (const Run& run : runs) std::printf("%s: %s\n", run.name.c_str(), run.note.c_str());
  std::filesystem::current_path("/");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
