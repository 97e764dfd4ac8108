#include "postgres_server.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#ifndef PG_BINDIR
#error "PG_BINDIR must name the folder of initdb and postgres"
#endif

namespace zem::test {
namespace {

constexpr char kServerUser[] = "postgres";

void ignoreNotice(void*, const char*) {}

}  // namespace

PostgresServer::PostgresServer() {
  if (std::string(PG_BINDIR).empty()) {
    problem_ = "no PostgreSQL server is installed (scripts/setup installs Debian's postgresql)";
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "zemlink-pg-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    problem_ = "no temporary folder";
    return;
  }
  folder_ = pattern;
  if (geteuid() == 0) {
    const passwd* user = getpwnam(kServerUser);
    if (user == nullptr) {
      problem_ = std::string("running as root, and there is no user \"") + kServerUser + "\" to run the server as";
      return;
    }
    if (chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) {
      problem_ = "cannot hand " + folder_ + " to " + kServerUser;
      return;
    }
  }
  // No fsync: the cluster lives as long as the test.
  const ProcessResult made = runProcess(asServerUser({std::string(PG_BINDIR) + "/initdb", "-D", folder_ + "/data", "-U",
                                                      "postgres", "--auth=trust", "--no-sync", "-E", "UTF8",
                                                      "--locale=C"}));
  if (made.exitCode != 0) problem_ = "initdb failed: " + made.err + made.out;
}

PostgresServer::~PostgresServer() {
  stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

std::vector<std::string> PostgresServer::asServerUser(std::vector<std::string> argv) const {
  if (geteuid() != 0) return argv;
  // setpriv execs in place; the parent-death signal, which a change of user
  // clears, is set again so that the server ends with the test.
  std::vector<std::string> all = {"/usr/bin/setpriv", std::string("--reuid=") + kServerUser,
                                  std::string("--regid=") + kServerUser, "--init-groups", "--pdeathsig", "KILL", "--"};
  all.insert(all.end(), argv.begin(), argv.end());
  return all;
}

bool PostgresServer::start() {
  if (!problem_.empty() || server_) return false;
  // The server's log goes to a file of the folder, not into the test's output.
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" 2>>\"$0/server.log\"", folder_};
  for (const std::string& word :
       asServerUser({std::string(PG_BINDIR) + "/postgres", "-D", folder_ + "/data", "-k", folder_, "-c",
                     "listen_addresses=", "-c", "fsync=off", "-c", "full_page_writes=off"})) {
    argv.push_back(word);
  }
  server_ = std::make_unique<ChildProcess>(argv);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (PQping(connection().c_str()) == PQPING_OK) return true;
    if (server_->waitFor(0)) break;  // it ended
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  problem_ = "the server did not start; see " + folder_ + "/server.log";
  return false;
}

void PostgresServer::stop() {
  if (!server_) return;
  ::kill(server_->pid(), SIGINT);  // fast shutdown
  if (!server_->waitFor(30000)) server_->kill();
  server_->wait();
  server_.reset();
}

std::string PostgresServer::connection() const {
  return "host=" + folder_ + " port=5432 user=postgres dbname=postgres";
}

std::string PostgresServer::execute(const std::string& sql) const {
  PGconn* connection = PQconnectdb(this->connection().c_str());
  std::string error;
  if (PQstatus(connection) != CONNECTION_OK) {
    error = PQerrorMessage(connection);
  } else {
    PQsetNoticeProcessor(connection, &ignoreNotice, nullptr);
    PGresult* result = PQexec(connection, sql.c_str());
    if (PQresultStatus(result) != PGRES_COMMAND_OK && PQresultStatus(result) != PGRES_TUPLES_OK) {
      error = PQresultErrorMessage(result);
    }
    PQclear(result);
  }
  PQfinish(connection);
  return error;
}

std::map<int, int> PostgresServer::pairs(const std::string& sql) const {
  std::map<int, int> rows;
  PGconn* connection = PQconnectdb(this->connection().c_str());
  PGresult* result = PQexec(connection, sql.c_str());
  if (PQresultStatus(result) == PGRES_TUPLES_OK) {
    for (int row = 0; row < PQntuples(result); ++row) {
      rows[std::atoi(PQgetvalue(result, row, 0))] = std::atoi(PQgetvalue(result, row, 1));
    }
  }
  PQclear(result);
  PQfinish(connection);
  return rows;
}

}  // namespace zem::test
