// A connection to an SQLite database file.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>

#include "database.h"

namespace sqlprovider {
namespace {

// How long a statement waits for a lock another connection holds (an
// informational batch being committed, say) before it fails as busy.
constexpr int kBusyTimeoutMs = 2000;

Failure classify(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_NOMEM:
    case SQLITE_INTERRUPT:
    case SQLITE_PROTOCOL:
    case SQLITE_SCHEMA:
      return Failure::transient;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return Failure::connectionLost;
    default:
      // The statement prepared, so what fails at run time is about the
      // values: a constraint, an overflow, a type.
      return Failure::thisMessage;
  }
}

class SqliteConnection : public Connection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() override {
    for (Statement& statement : statements_) sqlite3_finalize(statement.handle);
    sqlite3_close_v2(db_);
  }

  bool prepare(const SqlText& sql, int maxColumns, DatabaseError& error) override {
    if (!sql.otherPlaceholder().empty()) {
      error.kind = Failure::thisMessage;
      error.line = sql.otherPlaceholderLine();
      error.message = "the parameter " + sql.otherPlaceholder() +
                      " is not one of $1 to $10, $ref, $call, $held_call, $network_call, $node, $received";
      return false;
    }
    const SqlText::Rendered rendered = sql.render(Dialect::sqlite);
    sqlite3_stmt* handle = nullptr;
    const char* tail = nullptr;
    const int code = sqlite3_prepare_v3(db_, rendered.text.c_str(), static_cast<int>(rendered.text.size()),
                                        SQLITE_PREPARE_PERSISTENT, &handle, &tail);
    if (code != SQLITE_OK || handle == nullptr) {
      error.kind = code == SQLITE_OK ? Failure::thisMessage : classify(code);
      error.message = code == SQLITE_OK ? "the text holds no statement" : sqlite3_errmsg(db_);
      const int offset = sqlite3_error_offset(db_);
      if (offset >= 0 && static_cast<size_t>(offset) < rendered.origin.size()) {
        error.line = sql.lineAt(rendered.origin[static_cast<size_t>(offset)]);
      }
      sqlite3_finalize(handle);
      return false;
    }
    error.kind = Failure::thisMessage;
    const std::string rest = tail == nullptr ? "" : tail;
    if (rest.find_first_not_of(" \t\r\n;") != std::string::npos) {
      error.message = "the text holds more than one statement";
      const size_t offset = static_cast<size_t>(tail - rendered.text.c_str());
      if (offset < rendered.origin.size()) error.line = sql.lineAt(rendered.origin[offset]);
      sqlite3_finalize(handle);
      return false;
    }
    if (sqlite3_bind_parameter_count(handle) != static_cast<int>(sql.parameters().size())) {
      error.message = "it takes " + std::to_string(sqlite3_bind_parameter_count(handle)) + " parameters where " +
                      std::to_string(sql.parameters().size()) + " are written as $1 to $10, $ref, $call, "
                      "$held_call, $network_call, $node, $received";
      sqlite3_finalize(handle);
      return false;
    }
    const int columns = sqlite3_column_count(handle);
    if (maxColumns >= 0 && columns > maxColumns) {
      error.message = "it gives " + std::to_string(columns) + " columns; an answer holds at most " +
                      std::to_string(maxColumns) + " items";
      sqlite3_finalize(handle);
      return false;
    }
    statements_.push_back({handle, sql.parameters()});
    return true;
  }

  QueryResult run(int index, const MessageFields& fields) override {
    Statement& statement = statements_.at(static_cast<size_t>(index));
    sqlite3_stmt* handle = statement.handle;
    sqlite3_reset(handle);
    sqlite3_clear_bindings(handle);
    for (size_t i = 0; i < statement.parameters.size(); ++i) {
      const Parameter parameter = statement.parameters[i];
      const int slot = static_cast<int>(i) + 1;
      if (parameter >= Parameter::ref && parameter <= Parameter::node) {
        sqlite3_bind_int64(handle, slot, std::stoll(fields.value(parameter)));
      } else {
        const std::string value = fields.value(parameter);
        sqlite3_bind_text(handle, slot, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
      }
    }
    QueryResult result;
    const int code = sqlite3_step(handle);
    if (code == SQLITE_ROW) {
      result.outcome = QueryResult::row;
      const int columns = sqlite3_column_count(handle);
      for (int c = 0; c < columns; ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(handle, c));
        result.columns.emplace_back(text == nullptr ? "" : std::string(text, static_cast<size_t>(sqlite3_column_bytes(handle, c))));
      }
    } else if (code == SQLITE_DONE) {
      result.outcome = QueryResult::noRow;
    } else {
      fail(result.error, code);
    }
    sqlite3_reset(handle);
    return result;
  }

  bool execute(const char* sql, DatabaseError& error) override {
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) return true;
    fail(error, code);
    return false;
  }

  bool usable() override { return !lost_; }

 private:
  struct Statement {
    sqlite3_stmt* handle;
    std::vector<Parameter> parameters;
  };

  void fail(DatabaseError& error, int code) {
    error.kind = classify(code);
    error.message = sqlite3_errmsg(db_);
    if (error.kind == Failure::connectionLost) lost_ = true;
  }

  sqlite3* db_;
  std::vector<Statement> statements_;
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<Connection> openSqlite(const DatabaseSettings& settings, DatabaseError& error) {
  error.kind = Failure::connectionLost;
  struct stat status {};
  if (stat(settings.file.c_str(), &status) != 0) {
    error.message = std::string("the file cannot be reached: ") + std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    error.message = "it is not a file";
    return nullptr;
  }
  sqlite3* db = nullptr;
  // Never made here: a missing file is a mistake, not a new database.
  const int code = sqlite3_open_v2(settings.file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (code != SQLITE_OK) {
    error.message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Opening reads nothing; this reads the file's header and schema.
  if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) != SQLITE_OK) {
    error.kind = classify(sqlite3_errcode(db));
    error.message = sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    return nullptr;
  }
  error = {};
  return std::make_unique<SqliteConnection>(db);
}

}  // namespace sqlprovider
