// One connection to the database, used by one thread at a time: statements
// are prepared once, then run with the fields of one message bound to their
// parameters. SQLite (sqlite_connection.cpp) and PostgreSQL
// (postgres_connection.cpp) implement it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config.h"
#include "sql_text.h"

namespace sqlprovider {

// What a statement can bind: the fields of one request or informational
// message.
struct MessageFields {
  int32_t ref = 0;
  int32_t call = 0;
  int32_t heldCall = 0;
  int32_t networkCall = 0;
  int32_t node = 0;
  std::array<std::string, 10> items;
  std::string received;  // "YYYY-MM-DD HH:MM:SS.mmmZ"

  // The value bound to a parameter, as text.
  std::string value(Parameter parameter) const;
};

// Why something failed, which decides what is done next.
enum class Failure {
  none,
  connectionLost,  // the connection is gone: open a new one
  transient,       // busy, locked, out of room: the same work may succeed later
  thisMessage,     // this message's values are refused (a constraint, a type): others may pass
};

struct DatabaseError {
  Failure kind = Failure::none;
  std::string message;
  int line = 0;  // the configuration line an error of a statement's text points to, 0 if none
};

struct QueryResult {
  enum Outcome { row, noRow, failed } outcome = failed;
  std::vector<std::string> columns;  // of the first row, as text (NULL as "")
  DatabaseError error;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Prepares a statement; its number for run() is the count of statements
  // prepared before it. A query (maxColumns 10) may give at most that many
  // columns; -1: no limit.
  virtual bool prepare(const SqlText& sql, int maxColumns, DatabaseError& error) = 0;
  virtual QueryResult run(int statement, const MessageFields& fields) = 0;
  // A statement without parameters or result: BEGIN, COMMIT, SAVEPOINT ...
  virtual bool execute(const char* sql, DatabaseError& error) = 0;
  // False once the connection is known to be gone; looks without waiting.
  virtual bool usable() = 0;

  // A commit whose answer was lost may or may not have happened. Where the
  // database can tell afterwards (PostgreSQL), transactionId() names the
  // transaction under way, and committed() asks, on another connection,
  // how it ended: true, false, or unknown yet (nullopt).
  virtual std::string transactionId() { return {}; }
  virtual std::optional<bool> committed(const std::string& /*transactionId*/) { return false; }
};

// Opens a connection; null with the reason in error.
std::unique_ptr<Connection> openConnection(const DatabaseSettings& settings, DatabaseError& error);
std::unique_ptr<Connection> openSqlite(const DatabaseSettings& settings, DatabaseError& error);
std::unique_ptr<Connection> openPostgres(const DatabaseSettings& settings, DatabaseError& error);

// The database, named for messages: "SQLite file /x.db" or "PostgreSQL (host=...)".
std::string databaseName(const DatabaseSettings& settings);

// Opens a connection and prepares the configuration's statements on it, in
// the order of config.queries, then the informational statement. Each
// problem names its line. Null when anything failed.
std::unique_ptr<Connection> openPrepared(const Config& config, std::vector<ConfigProblem>& problems,
                                         Failure* failure = nullptr);

}  // namespace sqlprovider
