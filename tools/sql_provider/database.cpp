#include "database.h"

namespace sqlprovider {

std::string MessageFields::value(Parameter parameter) const {
  switch (parameter) {
    case Parameter::ref:
      return std::to_string(ref);
    case Parameter::call:
      return std::to_string(call);
    case Parameter::heldCall:
      return std::to_string(heldCall);
    case Parameter::networkCall:
      return std::to_string(networkCall);
    case Parameter::node:
      return std::to_string(node);
    case Parameter::received:
      return received;
    default:
      return items[static_cast<size_t>(parameter) - 1];
  }
}

std::unique_ptr<Connection> openConnection(const DatabaseSettings& settings, DatabaseError& error) {
  return settings.type == DatabaseType::sqlite ? openSqlite(settings, error) : openPostgres(settings, error);
}

std::string databaseName(const DatabaseSettings& settings) {
  return settings.type == DatabaseType::sqlite ? "SQLite file " + settings.file
                                               : "PostgreSQL (" + settings.connect + ")";
}

std::unique_ptr<Connection> openPrepared(const Config& config, std::vector<ConfigProblem>& problems,
                                         Failure* failure) {
  DatabaseError error;
  std::unique_ptr<Connection> connection = openConnection(config.database, error);
  if (!connection) {
    problems.push_back({config.database.line, "cannot open the " + databaseName(config.database) + ": " + error.message});
    if (failure != nullptr) *failure = error.kind;
    return nullptr;
  }
  auto prepare = [&](const SqlText& sql, int maxColumns, const std::string& what) {
    DatabaseError prepareError;
    if (connection->prepare(sql, maxColumns, prepareError)) return true;
    problems.push_back({prepareError.line > 0 ? prepareError.line : sql.firstLine(),
                        what + " does not prepare: " + prepareError.message});
    if (failure != nullptr) *failure = prepareError.kind;
    return false;
  };
  bool prepared = true;
  for (const Query& query : config.queries) {
    prepared = prepare(query.sql, 10, query.name.empty() ? "the default query" : "the query " + query.name) && prepared;
  }
  if (config.informational) {
    prepared = prepare(config.informational->sql, -1, "the informational statement") && prepared;
  }
  return prepared ? std::move(connection) : nullptr;
}

}  // namespace sqlprovider
