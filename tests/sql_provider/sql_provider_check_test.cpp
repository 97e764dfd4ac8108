// sql-provider --check on a table of broken files: each fault is named with
// the line it stands on, against a real SQLite file.
#include <sqlite3.h>

#include "sql_provider_fixture.h"

namespace zem::test {
namespace {

// A sound file; each case changes one thing in it.
const char kSound[] =
    "[server]\n"                                   // 1
    "address = 127.0.0.1\n"                        // 2
    "provider = 42\n"                              // 3
    "\n"                                           // 4
    "[database]\n"                                 // 5
    "file = calls.db\n"                            // 6
    "\n"                                           // 7
    "[requests]\n"                                 // 8
    "query_item = 1\n"                             // 9
    "\n"                                           // 10
    "[query]\n"                                    // 11
    "sql = SELECT name, note\n"                    // 12
    "      FROM accounts\n"                        // 13
    "      WHERE number = $2\n"                    // 14
    "\n"                                           // 15
    "[query BALANCE]\n"                            // 16
    "sql = SELECT balance FROM accounts WHERE number = $2\n"  // 17
    "\n"                                           // 18
    "[informational]\n"                            // 19
    "sql = INSERT INTO events (received, ref, call, kind) VALUES ($received, $ref, $call, $1)\n";  // 20

struct BrokenFile {
  const char* fault;
  std::string from;      // replaced in the sound file...
  std::string to;        // ...by this
  std::string message;   // a line of the output; {file} and {dir} stand for the paths
};

class SqlProviderCheckTest : public SqlProviderTest {
 protected:
  void SetUp() override {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path("calls.db").c_str(), &db), SQLITE_OK);
    for (const std::string& statement : schema()) sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    writeFile(path("notes.db"), "these are notes, not a database\n");
  }

  ProcessResult check(const std::string& text) {
    writeFile(path("provider.ini"), text);
    return runProcess({SQL_PROVIDER, "--check", path("provider.ini")});
  }
};

TEST_F(SqlProviderCheckTest, ASoundFilePreparesEveryStatement) {
  const ProcessResult result = check(kSound);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, path("provider.ini") + ": sound; 2 queries (chosen by item 1), informational messages "
                                               "recorded; SQLite file " + path("calls.db") + ", 2 connections\n");
}

TEST_F(SqlProviderCheckTest, EachFaultIsNamedWithItsLine) {
  const std::vector<BrokenFile> cases = {
      {"unknown key", "address =", "adress =", "{file}:2: unknown key \"adress\" in [server]"},
      {"missing key", "provider = 42\n", "", "{file}:1: [server] lacks provider"},
      {"number out of range", "provider = 42", "provider = 2000000000",
       "{file}:3: provider: \"2000000000\" is not a number from 1 to 1999999999"},
      {"unknown section", "[requests]", "[request]", "{file}:8: unknown section [request]"},
      {"key given twice", "file = calls.db\n", "file = calls.db\nfile = other.db\n",
       "{file}:7: \"file\" is given twice in [database] (first on line 6)"},
      {"a line that is no key", "query_item = 1", "query_item 1",
       "{file}:9: \"query_item 1\" is not a [section], a key = value, a comment or an indented continuation"},
      {"a key before any section", "[server]\n", "port = 1550\n[server]\n",
       "{file}:1: \"port\" stands before the first [section]"},
      {"a line too long", "[query]\n", "[query]\n; " + std::string(250, '-') + "\n",
       "{file}:12: the line is longer than 199 characters: continue a long value on indented lines"},
      {"a named query no item chooses", "query_item = 1\n", "",
       "{file}:15: [query BALANCE] is never chosen: [requests] names no query_item"},
      {"SQL that does not prepare, on a continued line", "WHERE number = $2\n\n[query BALANCE]", "WHERE numbr = $2\n\n[query BALANCE]",
       "{file}:14: the default query does not prepare: no such column: numbr"},
      {"more than ten columns", "SELECT balance FROM", "SELECT 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 FROM",
       "{file}:17: the query BALANCE does not prepare: it gives 11 columns; an answer holds at most 10 items"},
      {"a parameter past ten", "number = $2\n\n[informational]", "number = $11\n\n[informational]",
       "{file}:17: sql: parameter $11 is past ten: the items are $1 to $10"},
      {"an unknown named parameter", "$call, $1)", "$caller, $1)",
       "{file}:20: sql: unknown parameter $caller (the parameters are $1 to $10, $ref, $call, $held_call, "
       "$network_call, $node and $received)"},
      {"a placeholder of another kind", "$call, $1)", "?, $1)",
       "{file}:20: the informational statement does not prepare: the parameter ? is not one of $1 to $10"},
      {"two statements in one text", "WHERE number = $2\n\n[informational]",
       "WHERE number = $2; DELETE FROM accounts\n\n[informational]",
       "{file}:17: the query BALANCE does not prepare: the text holds more than one statement"},
      {"a database file that does not exist", "file = calls.db", "file = missing.db",
       "{file}:6: cannot open the SQLite file {dir}/missing.db: the file cannot be reached: No such file or "
       "directory"},
      {"a file that is not a database", "file = calls.db", "file = notes.db",
       "{file}:6: cannot open the SQLite file {dir}/notes.db: file is not a database"},
      {"a type of database not known", "file = calls.db", "type = mysql\nfile = calls.db",
       "{file}:6: type: \"mysql\" is neither sqlite nor postgresql"},
      {"no server section", "[server]\naddress = 127.0.0.1\nprovider = 42\n", "", "{file}: no [server] section"},
  };
  for (const BrokenFile& broken : cases) {
    std::string text = kSound;
    const size_t at = text.find(broken.from);
    ASSERT_NE(at, std::string::npos) << broken.fault;
    text.replace(at, broken.from.size(), broken.to);
    std::string message = broken.message;
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"{file}", path("provider.ini")},
                                      {"{dir}", root_.path()}}) {
      for (size_t p = message.find(name); p != std::string::npos; p = message.find(name)) message.replace(p, name.size(), value);
    }
    const ProcessResult result = check(text);
    EXPECT_EQ(result.exitCode, 1) << broken.fault;
    EXPECT_NE(result.err.find(message), std::string::npos) << broken.fault << ": expected\n  " << message
                                                           << "\namong\n" << result.err;
    EXPECT_EQ(result.out, "") << broken.fault;
  }
}

}  // namespace
}  // namespace zem::test
