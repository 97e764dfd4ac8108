// A PostgreSQL server of a test's own: a cluster made with initdb in a
// temporary folder, served by postgres in the foreground on a Unix socket
// in that folder (no TCP port, so runs beside each other never meet). The
// server cannot run as root: under root it runs as the system user
// "postgres" that Debian's package makes. It ends with the test process,
// however that ends.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace zem::test {

class PostgresServer {
 public:
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Empty when the cluster was made; otherwise why not.
  const std::string& problem() const { return problem_; }
  // Starts the server and waits until it takes connections; false if not.
  bool start();
  // Stops it as an operator would (fast shutdown: sessions are ended).
  void stop();

  // The libpq connection string of the cluster's superuser.
  std::string connection() const;
  // Runs statements as the superuser; the first error, or empty.
  std::string execute(const std::string& sql) const;
  // The rows of a query of two integer columns, the first as key.
  std::map<int, int> pairs(const std::string& sql) const;

 private:
  std::vector<std::string> asServerUser(std::vector<std::string> argv) const;

  std::string folder_;
  std::string problem_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace zem::test
