// sql-provider against SQLite files the tests make, behind exchange-sim on
// loopback.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "sql_provider_fixture.h"

namespace zem::test {
namespace {

// A database file of the test, with a connection of the test's own.
class SqliteFile {
 public:
  explicit SqliteFile(const std::string& path) : path_(path) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
    for (const std::string& statement : schema()) execute(statement);
  }
  ~SqliteFile() { sqlite3_close(db_); }

  void execute(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << sql << ": " << (error ? error : "");
    sqlite3_free(error);
  }
  // How many informational messages of each ref were stored.
  std::map<int, int> storedRefs() {
    std::map<int, int> refs;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, "SELECT ref, count(*) FROM events GROUP BY ref", -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) refs[sqlite3_column_int(statement, 0)] = sqlite3_column_int(statement, 1);
    sqlite3_finalize(statement);
    return refs;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

class SqlProviderSqliteTest : public SqlProviderTest {
 protected:
  std::string database() const { return "[database]\nfile = " + db_.path() + "\nretry_max = 1\n"; }
  std::map<int, int> storedRefs() override { return db_.storedRefs(); }
  SqliteFile db_{path("calls.db")};
};

TEST_F(SqlProviderSqliteTest, AnswersEachRequestFromTheQueryItsItemNames) {
  startSimulator();
  startProvider(writeConfig(database()), {"--counts-every", "1"});
  expectTheTableAnswered();

  // The lines of counts add up to the table: 3 rows, 4 without (a query of
  // its own included), 1 failure.
  long requests = 0, rows = 0, notFound = 0, failed = 0;
  while (requests < 8 && readUntil("counts for the last 1 s: ")) {
    long span[4] = {};
    ASSERT_EQ(std::sscanf(seen_.back().c_str(),
                          "counts for the last 1 s: requests %ld, answered from a row %ld, not found %ld, failed %ld",
                          &span[0], &span[1], &span[2], &span[3]),
              4)
        << seen_.back();
    requests += span[0];
    rows += span[1];
    notFound += span[2];
    failed += span[3];
  }
  EXPECT_EQ(requests, 8);
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(notFound, 3);
  EXPECT_EQ(failed, 1);
  EXPECT_NE(lines().find("request ref=7: the query FAIL (line 31) failed: integer overflow"), std::string::npos) << lines();
  EXPECT_NE(lines().find("request ref=6: column 10 of the query WIDE holds 84 characters; the item takes the first 80"),
            std::string::npos)
      << lines();
  EXPECT_NE(stopProvider().find("in all: requests 8, answered from a row 4, not found 3, failed 1,"), std::string::npos)
      << lines();
}

TEST_F(SqlProviderSqliteTest, StoresEachInformationalMessageOnceAndCountsTheOneItRefuses) {
  startSimulator();
  startProvider(writeConfig(database()));
  expectEachStoredOnceButTheRefused("CHECK constraint failed");
}

TEST_F(SqlProviderSqliteTest, ALockedDatabaseGetsTheFailureAnswerAndMessagesWaitForIt) {
  startSimulator();
  startProvider(writeConfig(database()));
  send(199, "info", {{"items", {"ring"}}});
  ASSERT_EQ(waitForStored(1).size(), 1u) << lines();
  // Another program holds the whole database: reading and writing wait for
  // the lock, up to the busy limit, and then fail.
  db_.execute("BEGIN EXCLUSIVE");
  send(1, "request", {{"items", {"BALANCE", "555-0100"}}});
  for (int ref = 200; ref < 205; ++ref) send(ref, "info", {{"items", {"transfer", "queue 4"}}});
  EXPECT_EQ(completions(1)[1], items({"DB-FAILED", "later"})) << lines();
  ASSERT_TRUE(readUntil("informational messages: a batch of 3 (database is locked) waits")) << lines();
  EXPECT_EQ(db_.storedRefs().size(), 1u);

  db_.execute("COMMIT");
  const std::map<int, int> stored = waitForStored(6);
  ASSERT_EQ(stored.size(), 6u) << lines();
  for (const auto& [ref, count] : stored) EXPECT_EQ(count, 1) << ref;
  send(2, "request", {{"items", {"BALANCE", "555-0100"}}});
  EXPECT_EQ(completions(1)[2], items({"Ada Brandt", "1520.00"}));
  EXPECT_NE(stopProvider().find("informational messages stored 6;"), std::string::npos) << lines();
}

TEST_F(SqlProviderSqliteTest, SighupReadsTheFileAgainAndKeepsTheOldSettingsWhenItIsBroken) {
  startSimulator();
  const std::string config = writeConfig(database());
  ChildProcess& provider = startProvider(config);
  send(1, "request", {{"items", {"BALANCE", "555-0100"}}});
  EXPECT_EQ(completions(1)[1], items({"Ada Brandt", "1520.00"}));

  // A broken file: the fault is named with its line, the settings stay.
  writeConfig(database(), "[query]\nsql = SELECT nam FROM accounts\n");
  ::kill(provider.pid(), SIGHUP);
  ASSERT_TRUE(readUntil("the settings in force stay")) << lines();
  EXPECT_NE(lines().find("reload: " + config + ":13: the default query does not prepare: no such column: nam"),
            std::string::npos)
      << lines();
  send(2, "request", {{"items", {"BALANCE", "555-0100"}}});
  EXPECT_EQ(completions(1)[2], items({"Ada Brandt", "1520.00"}));

  // A sound one takes effect.
  writeConfig(database(), "[query]\nsql = SELECT 'new', name FROM accounts WHERE number = $2\n");
  ::kill(provider.pid(), SIGHUP);
  ASSERT_TRUE(readUntil("reload: 1 query")) << lines();
  send(3, "request", {{"items", {"BALANCE", "555-0100"}}});
  EXPECT_EQ(completions(1)[3], items({"new", "Ada Brandt"}));

  // Another provider identifier: the registration moves to it.
  std::string moved = readFile(config);
  moved.replace(moved.find("provider = 42"), 13, "provider = 43");
  writeFile(config, moved);
  ::kill(provider.pid(), SIGHUP);
  ASSERT_TRUE(readUntil("registered as provider 43")) << lines();
  EXPECT_EQ(sim_->next("registered")["providerId"], 42);
  EXPECT_EQ(sim_->next("deregistered")["providerId"], 42);
  EXPECT_EQ(sim_->next("registered")["providerId"], 43);
  send(4, "request", {{"items", {"BALANCE", "555-0100"}}});
  EXPECT_EQ(completions(1)[4], items({"new", "Ada Brandt"}));

  // SIGTERM: the registration ends, and so does the program.
  const auto start = std::chrono::steady_clock::now();
  stopProvider();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(sim_->next("deregistered")["providerId"], 43);
}

TEST_F(SqlProviderSqliteTest, RegistersAgainAfterALostConnectionToTheServer) {
  // Fetches that find nothing end after 0.2 s.
  ExchangeSimulator& sim = startSimulator({"--hold-ms", "200"});
  startProvider(writeConfig(database()));
  // The server reports the connection lost and refuses the library's own
  // registration after it: the program gets an error event.
  sim.command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"result", 1004}});
  sim.command({{"cmd", "fail"}, {"proc", "Zem_GetMessageBridge"}, {"result", 1005}});
  ASSERT_TRUE(readUntil("error event: the connection to the server is lost; registering again")) << lines();
  ASSERT_TRUE(readUntil("registered as provider 42")) << lines();
  send(2, "request", {{"items", {"BALANCE", "555-0101"}}});
  EXPECT_EQ(completions(1)[2], items({"Ivo Castell", "87.15"})) << lines();
  stopProvider();
}

}  // namespace
}  // namespace zem::test
