// sql-provider beside a test: a configuration file written for the test's
// database, exchange-sim on loopback, the program itself with its output
// read line by line, and the requests and answers that the table of cases
// shares between SQLite and PostgreSQL.
#pragma once

#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/exchange_simulator.h"
#include "support/process.h"
#include "support/temp_root.h"
#include "support/text_files.h"

namespace zem::test {

// Tables both databases understand: the accounts that requests look up and
// the events that informational messages go to (an event "refuse" breaks
// its check, so the statement refuses that message alone).
inline std::vector<std::string> schema() {
  return {
    "CREATE TABLE accounts (number TEXT PRIMARY KEY, name TEXT NOT NULL, balance TEXT NOT NULL, note TEXT)",
    "INSERT INTO accounts VALUES ('555-0100', 'Ada Brandt', '1520.00', 'gold'), "
    "('555-0101', 'Ivo Castell', '87.15', NULL), "
    // 79 bytes, then a character of two bytes that does not fit in 80.
    "('555-0199', 'Long Note', '1.00', '" + std::string(79, 'x') + "\xC3\xA9" "tail')",
    "CREATE TABLE events (received TEXT NOT NULL, ref INTEGER NOT NULL, call INTEGER NOT NULL, "
    "kind TEXT NOT NULL CHECK (kind <> 'refuse'), detail TEXT)",
  };
}

// The statements of the tests' configuration: one per kind of answer.
inline std::string queriesSection() {
  return "[requests]\n"
         "query_item = 1\n"
         "failed = DB-FAILED | later\n"
         "\n"
         "[query]\n"
         "sql = SELECT name, note FROM accounts WHERE number = $2\n"
         "\n"
         "[query BALANCE]\n"
         "sql = SELECT name, balance\n"
         "      FROM accounts\n"
         "      WHERE number = $2\n"
         "\n"
         "[query HEADER]\n"
         "sql = SELECT CAST($ref AS TEXT), CAST($call AS TEXT), CAST($held_call AS TEXT),\n"
         "        CAST($network_call AS TEXT), CAST($node AS TEXT), $2 || '!'\n"
         "\n"
         "[query WIDE]\n"
         "sql = SELECT 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', note FROM accounts WHERE number = $2\n"
         "\n"
         "[query FAIL]\n"
         "; the smallest integer has no absolute value: both databases fail at run time\n"
         "sql = SELECT abs(CAST($2 AS BIGINT))\n"
         "\n"
         "[query OWN]\n"
         "sql = SELECT name FROM accounts WHERE number = $2\n"
         "not_found = none | here\n"
         "\n"
         "[informational]\n"
         "sql = INSERT INTO events (received, ref, call, kind, detail) VALUES ($received, $ref, $call, $1, $2)\n"
         "batch = 3\n"
         "wait_ms = 50\n";
}

struct RequestCase {
  const char* what;
  nlohmann::json send;               // the fields of exchange-sim's send command, besides ref
  std::vector<std::string> answer;   // the completion's ten items
};

inline std::vector<std::string> items(std::vector<std::string> first) {
  first.resize(10);
  return first;
}

inline std::vector<RequestCase> requestCases() {
  return {
      {"a row answers", {{"items", {"BALANCE", "555-0100"}}}, items({"Ada Brandt", "1520.00"})},
      {"an item naming no query takes the default; NULL is empty", {{"items", {"WHO", "555-0101"}}},
       items({"Ivo Castell", ""})},
      {"no row", {{"items", {"BALANCE", "555-0999"}}}, items({"NOTFOUND"})},
      {"a value is bound, never pasted", {{"items", {"BALANCE", "555-0100' OR '1'='1"}}}, items({"NOTFOUND"})},
      {"the header fields are bound",
       {{"callId", 11}, {"heldCallId", 12}, {"networkCallId", 13}, {"nodeId", 14}, {"items", {"HEADER", "x"}}},
       items({"@ref", "11", "12", "13", "14", "x!"})},
      {"ten columns; one cut to 80 characters, a two-byte one the last", {{"items", {"WIDE", "555-0199"}}},
       {"a", "b", "c", "d", "e", "f", "g", "h", "i", std::string(79, 'x') + "\xC3\xA9"}},
      {"the database fails", {{"items", {"FAIL", "-9223372036854775808"}}}, items({"DB-FAILED", "later"})},
      {"a query's own not-found answer", {{"items", {"OWN", "555-0999"}}}, items({"none", "here"})},
  };
}

class SqlProviderTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return root_.path() + "/" + name; }

  // The configuration: the server section for the running simulator, then
  // the database section and the statements given.
  std::string writeConfig(const std::string& database, const std::string& statements = queriesSection(),
                          const std::string& name = "provider.ini") {
    const std::string file = path(name);
    writeFile(file, "[server]\naddress = 127.0.0.1\nprovider = 42\n\n[RPC]\nPORT = " +
                        std::to_string(sim_ ? sim_->port() : 1550) + "\n\n" + database + "\n" + statements);
    return file;
  }

  ExchangeSimulator& startSimulator(std::vector<std::string> options = {}) {
    sim_ = std::make_unique<ExchangeSimulator>(std::move(options));
    return *sim_;
  }

  // Starts sql-provider and waits for its registration.
  ChildProcess& startProvider(const std::string& config, std::vector<std::string> options = {}) {
    std::vector<std::string> argv = {SQL_PROVIDER};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(config);
    provider_ = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(readUntil("registered as provider 42")) << lines();
    return *provider_;
  }

  // Reads the program's output up to a line containing text, for at most
  // timeoutMs.
  bool readUntil(const std::string& text, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !provider_->readLine(line, static_cast<int>(left.count()))) return false;
      seen_.push_back(line);
      if (line.find(text) != std::string::npos) return true;
    }
  }
  std::string lines() const {
    std::string all;
    for (const std::string& line : seen_) all += line + "\n";
    return all;
  }

  void send(int ref, const std::string& type, nlohmann::json fields = nlohmann::json::object()) {
    fields["cmd"] = "send";
    fields["type"] = type;
    fields["ref"] = ref;
    sim_->command(fields);
  }
  // The completions for refs, by ref (they may come in any order).
  std::map<int, std::vector<std::string>> completions(size_t count, int timeoutMs = 10000) {
    std::map<int, std::vector<std::string>> found;
    while (found.size() < count) {
      const nlohmann::json completion = sim_->next("completion", timeoutMs);
      if (completion.is_null()) break;
      found[completion["ref"].get<int>()] = completion["items"].get<std::vector<std::string>>();
    }
    return found;
  }

  // Sends the table's requests, refs from 1, and checks each answer.
  void expectTheTableAnswered() {
    const std::vector<RequestCase> cases = requestCases();
    for (size_t i = 0; i < cases.size(); ++i) send(static_cast<int>(i) + 1, "request", cases[i].send);
    const auto answers = completions(cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
      std::vector<std::string> expected = cases[i].answer;
      if (expected[0] == "@ref") expected[0] = std::to_string(i + 1);
      const auto found = answers.find(static_cast<int>(i) + 1);
      ASSERT_NE(found, answers.end()) << cases[i].what << "\n" << lines();
      EXPECT_EQ(found->second, expected) << cases[i].what;
    }
  }

  // How many informational messages of each ref the test's database holds.
  virtual std::map<int, int> storedRefs() { return {}; }
  // The stored refs, once there are `count` of them (or 10 s passed).
  std::map<int, int> waitForStored(size_t count) {
    std::map<int, int> refs;
    for (int tries = 0; tries < 200 && refs.size() < count; ++tries) {
      refs = storedRefs();
      if (refs.size() < count) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return refs;
  }

  // Ten informational messages in batches of three, and one that the table's
  // check refuses (the database says `refusal`): each of the ten is stored
  // once, the eleventh is counted and shown.
  void expectEachStoredOnceButTheRefused(const std::string& refusal) {
    for (int ref = 100; ref < 110; ++ref) send(ref, "info", {{"callId", ref * 2}, {"items", {"hangup", "caller"}}});
    send(110, "info", {{"items", {"refuse", "bad"}}});
    const std::map<int, int> stored = waitForStored(10);
    ASSERT_EQ(stored.size(), 10u) << lines();
    for (const auto& [ref, count] : stored) {
      EXPECT_TRUE(ref >= 100 && ref < 110) << ref;
      EXPECT_EQ(count, 1) << ref;
    }
    ASSERT_TRUE(readUntil("informational message not stored: ref=110 call=0 received=")) << lines();
    EXPECT_NE(seen_.back().find("items=[refuse|bad]: the statement refuses it: " + refusal), std::string::npos)
        << seen_.back();
    const std::string last = stopProvider();
    EXPECT_NE(last.find("informational messages stored 10;"), std::string::npos) << last;
    EXPECT_NE(last.find("informational messages not stored 1,"), std::string::npos) << last;
  }

  // Ends the program with SIGTERM; its last line, with the counts of the run.
  std::string stopProvider() {
    ::kill(provider_->pid(), SIGTERM);
    EXPECT_TRUE(readUntil("in all: ")) << lines();
    const std::string last = seen_.empty() ? "" : seen_.back();
    EXPECT_TRUE(provider_->waitFor(10000));
    EXPECT_EQ(provider_->wait(), 0);
    return last;
  }

  TempRoot root_;
  std::unique_ptr<ExchangeSimulator> sim_;
  std::unique_ptr<ChildProcess> provider_;
  std::vector<std::string> seen_;
};

}  // namespace zem::test
