// sql-provider against a real PostgreSQL server that the test starts (and
// stops and starts again), behind exchange-sim on loopback. The cases share
// one server: they run in one process, one after the other.
#include <chrono>

#include "postgres_server.h"
#include "sql_provider_fixture.h"

namespace zem::test {
namespace {

PostgresServer* server = nullptr;

// The server lives for the whole program.
class PostgresEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    server_ = std::make_unique<PostgresServer>();
    ASSERT_EQ(server_->problem(), "");
    ASSERT_TRUE(server_->start()) << server_->problem();
    server = server_.get();
  }
  void TearDown() override { server_.reset(); }

 private:
  std::unique_ptr<PostgresServer> server_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

class SqlProviderPostgresTest : public SqlProviderTest {
 protected:
  void SetUp() override {
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(server->execute("DROP TABLE IF EXISTS accounts, events"), "");
    for (const std::string& statement : schema()) ASSERT_EQ(server->execute(statement), "") << statement;
  }
  static std::string database(const std::string& connect = server->connection()) {
    return "[database]\ntype = postgresql\nconnect = " + connect + "\nretry_max = 1\n";
  }
  std::map<int, int> storedRefs() override { return server->pairs("SELECT ref, count(*) FROM events GROUP BY ref"); }
};

TEST_F(SqlProviderPostgresTest, AnswersEachRequestFromTheQueryItsItemNames) {
  startSimulator();
  startProvider(writeConfig(database()));
  expectTheTableAnswered();
  EXPECT_NE(stopProvider().find("in all: requests 8, answered from a row 4, not found 3, failed 1,"), std::string::npos)
      << lines();
  EXPECT_NE(lines().find("request ref=7: the query FAIL (line 32) failed: bigint out of range"), std::string::npos)
      << lines();
}

TEST_F(SqlProviderPostgresTest, StoresEachInformationalMessageOnceAndCountsTheOneItRefuses) {
  startSimulator();
  startProvider(writeConfig(database()));
  expectEachStoredOnceButTheRefused("new row for relation \"events\" violates check constraint");
  EXPECT_EQ(server->pairs("SELECT ref, call FROM events WHERE ref = 104"), (std::map<int, int>{{104, 208}}));
}

TEST_F(SqlProviderPostgresTest, RidesOutTheServerStoppedAndStartedDuringTraffic) {
  startSimulator();
  startProvider(writeConfig(database()));
  // A request and an informational message at a time; the server stops
  // after the tenth and starts again after the twentieth. Every request is
  // answered: from the row, or with the failure answer while the server is
  // away; then from the row again.
  const nlohmann::json balance = {{"items", {"BALANCE", "555-0100"}}};
  const auto row = items({"Ada Brandt", "1520.00"});
  const auto failed = items({"DB-FAILED", "later"});
  int sent = 0;
  bool answeredAgain = false;
  std::map<int, std::vector<std::string>> answers;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!answeredAgain && std::chrono::steady_clock::now() < deadline) {
    ++sent;
    send(sent, "request", balance);
    send(1000 + sent, "info", {{"items", {"note", std::to_string(sent)}}});
    const auto answer = completions(1);
    ASSERT_EQ(answer.size(), 1u) << "request " << sent << " unanswered\n" << lines();
    answers.insert(answer.begin(), answer.end());
    if (sent == 10) server->stop();
    if (sent == 20) {
      ASSERT_TRUE(server->start()) << server->problem();
    }
    answeredAgain = sent > 20 && answer.begin()->second == row;
  }
  ASSERT_TRUE(answeredAgain) << lines();
  for (const auto& [ref, answer] : answers) {
    if (ref <= 10) {
      EXPECT_EQ(answer, row) << ref;
    } else if (ref <= 20) {
      EXPECT_EQ(answer, failed) << ref;
    }
  }
  // A restart between two requests costs neither: the connections that
  // the server closed are seen closed before they are used.
  server->stop();
  ASSERT_TRUE(server->start()) << server->problem();
  ++sent;
  send(sent, "request", balance);
  send(1000 + sent, "info", {{"items", {"note", std::to_string(sent)}}});
  EXPECT_EQ(completions(1)[sent], row) << lines();

  // Every informational message is stored, each once: those of the pause
  // waited for the server.
  const std::map<int, int> stored = waitForStored(static_cast<size_t>(sent));
  EXPECT_EQ(stored.size(), static_cast<size_t>(sent)) << lines();
  for (const auto& [ref, count] : stored) {
    EXPECT_EQ(count, 1) << ref;
  }
  EXPECT_NE(stopProvider().find("informational messages not stored 0,"), std::string::npos) << lines();
  // (Which connection comes back first is the scheduler's choice.)
  EXPECT_NE(lines().find("database connection 1 lost: "), std::string::npos) << lines();
  EXPECT_NE(lines().find(" is back after "), std::string::npos) << lines();
  EXPECT_NE(lines().find("informational connection lost: "), std::string::npos) << lines();
}

TEST_F(SqlProviderPostgresTest, ACommitThatGoesUnansweredIsAskedAboutNotRepeatedBlindly) {
  // The first commit of a row into events ends its own session: the
  // program's connection is lost at COMMIT, without an answer.
  ASSERT_EQ(server->execute("DROP SEQUENCE IF EXISTS commits; CREATE SEQUENCE commits;"
                            "CREATE OR REPLACE FUNCTION end_first_commit() RETURNS trigger LANGUAGE plpgsql AS $$"
                            "BEGIN IF nextval('commits') = 1 THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF;"
                            "RETURN NULL; END $$;"
                            "CREATE CONSTRAINT TRIGGER at_commit AFTER INSERT ON events DEFERRABLE INITIALLY DEFERRED "
                            "FOR EACH ROW EXECUTE FUNCTION end_first_commit()"),
            "");
  startSimulator();
  startProvider(writeConfig(database()));
  for (int ref = 300; ref < 303; ++ref) send(ref, "info", {{"items", {"hold", "music"}}});
  const std::map<int, int> stored = waitForStored(3);
  EXPECT_EQ(stored, (std::map<int, int>{{300, 1}, {301, 1}, {302, 1}})) << lines();
  EXPECT_NE(stopProvider().find("informational messages stored 3;"), std::string::npos) << lines();
  EXPECT_NE(lines().find(" whose commit went unanswered was "), std::string::npos)
      << lines();
}

TEST_F(SqlProviderPostgresTest, ALoginTheServerRefusesIsNamedWithItsLine) {
  const std::string config = writeConfig(database(server->connection() + " user=nosuchrole"));
  // As a check, and at the start of a run: the same message, and exit code 1.
  for (const char* option : {"--check", "--counts-every"}) {
    std::vector<std::string> argv = {SQL_PROVIDER, option};
    if (std::string(option) == "--counts-every") argv.push_back("60");
    argv.push_back(config);
    const ProcessResult result = runProcess(argv);
    EXPECT_EQ(result.exitCode, 1) << option;
    EXPECT_NE(result.err.find(config + ":10: cannot open the PostgreSQL (" + server->connection() +
                              " user=nosuchrole): connection to server on socket"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("FATAL: role \"nosuchrole\" does not exist"), std::string::npos) << result.err;
  }
}

TEST_F(SqlProviderPostgresTest, CheckNamesTheLineWhereTheServerFindsAFault) {
  const std::string sound = writeConfig(database());
  const ProcessResult result = runProcess({SQL_PROVIDER, "--check", sound});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find(": sound; 6 queries (chosen by item 1), informational messages recorded; PostgreSQL ("),
            std::string::npos)
      << result.out;

  // The unknown column stands on the third line of a text continued on
  // indented lines.
  std::string statements = queriesSection();
  statements.replace(statements.find("WHERE number = $2\n\n[query HEADER]"), 17, "WHERE numbr = $2");
  const std::string broken = writeConfig(database(), statements);
  const ProcessResult fault = runProcess({SQL_PROVIDER, "--check", broken});
  EXPECT_EQ(fault.exitCode, 1);
  EXPECT_EQ(fault.err, broken + ":23: the query BALANCE does not prepare: column \"numbr\" does not exist\n");
}

}  // namespace
}  // namespace zem::test
