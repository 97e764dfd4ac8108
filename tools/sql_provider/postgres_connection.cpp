// A connection to a PostgreSQL server through libpq.
#include <libpq-fe.h>
#include <poll.h>

#include <cstring>

#include "database.h"

namespace sqlprovider {
namespace {

// libpq's messages end in a newline and may span indented lines: one line
// here, each run of blanks one space.
std::string oneLine(const char* text) {
  std::string line;
  for (const char* c = text == nullptr ? "" : text; *c != '\0'; ++c) {
    const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
    if (!blank) {
      line += *c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// The byte of a UTF-8 text at which character `position` (from 1) begins.
size_t byteOfCharacter(const std::string& text, long position) {
  size_t byte = 0;
  for (long character = 1; character < position && byte < text.size(); ++character) {
    ++byte;
    while (byte < text.size() && (static_cast<unsigned char>(text[byte]) & 0xC0) == 0x80) ++byte;
  }
  return byte;
}

class PostgresConnection : public Connection {
 public:
  explicit PostgresConnection(PGconn* connection) : connection_(connection) {}
  ~PostgresConnection() override { PQfinish(connection_); }

  bool prepare(const SqlText& sql, int maxColumns, DatabaseError& error) override {
    const SqlText::Rendered rendered = sql.render(Dialect::postgresql);
    const std::string name = "s" + std::to_string(statements_.size());
    const int parameters = static_cast<int>(sql.parameters().size());
    Result prepared(PQprepare(connection_, name.c_str(), rendered.text.c_str(), parameters, nullptr));
    if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
      fail(error, prepared.get());
      const char* position = PQresultErrorField(prepared.get(), PG_DIAG_STATEMENT_POSITION);
      if (position != nullptr) {
        const size_t byte = byteOfCharacter(rendered.text, std::atol(position));
        if (byte < rendered.origin.size()) error.line = sql.lineAt(rendered.origin[byte]);
      }
      return false;
    }
    Result described(PQdescribePrepared(connection_, name.c_str()));
    if (PQresultStatus(described.get()) != PGRES_COMMAND_OK) {
      fail(error, described.get());
      return false;
    }
    error.kind = Failure::thisMessage;
    if (PQnparams(described.get()) != parameters) {
      error.message = "it takes " + std::to_string(PQnparams(described.get())) + " parameters where " +
                      std::to_string(parameters) + " are written as $1 to $10, $ref, $call, $held_call, "
                      "$network_call, $node, $received";
      return false;
    }
    const int columns = PQnfields(described.get());
    if (maxColumns >= 0 && columns > maxColumns) {
      error.message = "it gives " + std::to_string(columns) + " columns; an answer holds at most " +
                      std::to_string(maxColumns) + " items";
      return false;
    }
    statements_.push_back({name, sql.parameters()});
    return true;
  }

  QueryResult run(int index, const MessageFields& fields) override {
    const Statement& statement = statements_.at(static_cast<size_t>(index));
    std::vector<std::string> values;
    std::vector<const char*> pointers;
    values.reserve(statement.parameters.size());
    for (Parameter parameter : statement.parameters) values.push_back(fields.value(parameter));
    for (const std::string& value : values) pointers.push_back(value.c_str());
    Result result(PQexecPrepared(connection_, statement.name.c_str(), static_cast<int>(pointers.size()),
                                 pointers.data(), nullptr, nullptr, 0));
    QueryResult out;
    switch (PQresultStatus(result.get())) {
      case PGRES_TUPLES_OK:
        if (PQntuples(result.get()) > 0) {
          out.outcome = QueryResult::row;
          for (int c = 0; c < PQnfields(result.get()); ++c) {
            out.columns.emplace_back(PQgetvalue(result.get(), 0, c), static_cast<size_t>(PQgetlength(result.get(), 0, c)));
          }
        } else {
          out.outcome = QueryResult::noRow;
        }
        break;
      case PGRES_COMMAND_OK:
        out.outcome = QueryResult::noRow;
        break;
      default:
        fail(out.error, result.get());
    }
    return out;
  }

  bool execute(const char* sql, DatabaseError& error) override {
    Result result(PQexec(connection_, sql));
    if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) return true;
    fail(error, result.get());
    return false;
  }

  std::string transactionId() override {
    Result result(PQexec(connection_, "SELECT txid_current()"));
    return PQresultStatus(result.get()) == PGRES_TUPLES_OK ? PQgetvalue(result.get(), 0, 0) : "";
  }

  std::optional<bool> committed(const std::string& transactionId) override {
    const char* values[] = {transactionId.c_str()};
    Result result(PQexecParams(connection_, "SELECT txid_status($1::bigint)", 1, nullptr, values, nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) return std::nullopt;
    // Null: too old for the server to remember, which a lost commit is not.
    const std::string status = PQgetisnull(result.get(), 0, 0) ? "" : PQgetvalue(result.get(), 0, 0);
    if (status == "in progress") return std::nullopt;
    return status == "committed";
  }

  bool usable() override {
    // Reads what the server sent meanwhile, without waiting: a server that
    // stopped has sent its farewell and closed the connection, and libpq
    // sees the end at the read after the one that brings the farewell.
    for (int reads = 0; reads < 4 && PQstatus(connection_) == CONNECTION_OK; ++reads) {
      pollfd socket = {PQsocket(connection_), POLLIN, 0};
      if (poll(&socket, 1, 0) <= 0) break;
      if (PQconsumeInput(connection_) == 0) break;
    }
    return PQstatus(connection_) == CONNECTION_OK;
  }

 private:
  struct Statement {
    std::string name;
    std::vector<Parameter> parameters;
  };
  struct Clear {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  using Result = std::unique_ptr<PGresult, Clear>;

  void fail(DatabaseError& error, const PGresult* result) {
    const char* primary = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    error.message = oneLine(primary != nullptr ? primary : PQerrorMessage(connection_));
    const char* state = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const std::string sqlstate = state == nullptr ? "" : state;
    if (PQstatus(connection_) != CONNECTION_OK || sqlstate.rfind("08", 0) == 0 || sqlstate.rfind("57P", 0) == 0) {
      error.kind = Failure::connectionLost;
    } else if (sqlstate.empty() || sqlstate.rfind("40", 0) == 0 || sqlstate.rfind("53", 0) == 0 ||
               sqlstate.rfind("55", 0) == 0 || sqlstate.rfind("57", 0) == 0 || sqlstate.rfind("58", 0) == 0 ||
               sqlstate.rfind("XX", 0) == 0 || sqlstate.rfind("25", 0) == 0) {
      // Serialization, resources, locks, cancellation, the system: later.
      error.kind = Failure::transient;
    } else {
      error.kind = Failure::thisMessage;
    }
  }

  PGconn* connection_;
  std::vector<Statement> statements_;
};

void ignoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<Connection> openPostgres(const DatabaseSettings& settings, DatabaseError& error) {
  // The connection string comes last, so that what it says wins over these.
  const char* keywords[] = {"connect_timeout", "fallback_application_name", "client_encoding", "dbname", nullptr};
  const char* values[] = {"5", "sql-provider", "auto", settings.connect.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keywords, values, 1);
  if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
    error.kind = Failure::connectionLost;
    error.message = connection == nullptr ? "out of memory" : oneLine(PQerrorMessage(connection));
    PQfinish(connection);
    return nullptr;
  }
  PQsetNoticeProcessor(connection, &ignoreNotice, nullptr);
  error = {};
  return std::make_unique<PostgresConnection>(connection);
}

}  // namespace sqlprovider
