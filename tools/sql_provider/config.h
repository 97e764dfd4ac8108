// The configuration file: what sql-provider serves, from which database,
// with which statements. One INI file (read with inih); every problem is
// reported with the line it stands on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sql_text.h"

namespace sqlprovider {

enum class DatabaseType { sqlite, postgresql };

// What a request gets back: up to ten items.
using Answer = std::vector<std::string>;

struct DatabaseSettings {
  DatabaseType type = DatabaseType::sqlite;
  std::string file;     // SQLite: the database file, made absolute
  std::string connect;  // PostgreSQL: the connection string
  int line = 0;         // of `file` or `connect`
  int connections = 2;
  int retryMaxSeconds = 30;
};

struct Query {
  std::string name;  // empty: the default query
  int line = 0;      // of its section
  SqlText sql;
  Answer notFound;
  Answer failed;
};

struct InformationalSettings {
  SqlText sql;
  int batch = 100;
  int waitMs = 500;
  int keep = 100000;
};

struct Config {
  std::string path;  // of the file, absolute
  std::string serverAddress;
  uint32_t providerId = 0;
  std::string port;  // [RPC] PORT, empty when the file has none
  DatabaseSettings database;
  int queryItem = 0;  // 1 to 10: the item whose text names the query; 0: always the default
  Answer notFound;    // of [requests], for a request that no query takes
  Answer failed;
  std::vector<Query> queries;
  std::optional<InformationalSettings> informational;

  // The query for a request whose choosing item says `text`, or null.
  const Query* queryFor(const std::string& text) const;
  // The statement number of a query on a connection of openPrepared(); the
  // informational statement comes after the queries.
  int statementOf(const Query& query) const { return static_cast<int>(&query - queries.data()); }
  int informationalStatement() const { return static_cast<int>(queries.size()); }
  // Whether the parts that reach the server differ.
  bool sameServer(const Config& other) const {
    return serverAddress == other.serverAddress && providerId == other.providerId && port == other.port;
  }
};

struct ConfigProblem {
  int line;  // 0: the file as a whole
  std::string message;
};

// "PATH:LINE: message" (or "PATH: message").
std::string describe(const std::string& path, const ConfigProblem& problem);

struct LoadedConfig {
  std::optional<Config> config;          // when there are no problems
  std::vector<ConfigProblem> problems;   // in the order of the file
};

// Reads and checks the file (not yet against the database).
LoadedConfig loadConfig(const std::string& path);

}  // namespace sqlprovider
