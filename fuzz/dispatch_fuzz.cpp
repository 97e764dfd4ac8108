// Feeds arbitrary bytes to a server connection serving the exchange
// interface: the fragment reader, bind handling, reassembly, the dispatcher
// and the simulated server behind it, all on this thread.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "rpc/server.h"
#include "tools/exchange_sim/exchange_dispatch.h"
#include "tools/exchange_sim/sim_exchange.h"

namespace {

struct Fixture {
  Fixture() : sink(std::fopen("/dev/null", "w")), events(sink), exchange(std::make_shared<SimExchange>(events, options())) {
    rpc::ServerOptions serverOptions;
    serverOptions.maxRequestStub = 8192;
    serverOptions.pduTimeoutMs = 100;
    server = std::make_unique<rpc::Server>(serverOptions);
    server->addInterface(std::make_shared<ExchangeDispatcher>(exchange));
  }
  static SimOptions options() {
    SimOptions sim;
    sim.holdMs = 0;
    return sim;
  }
  std::FILE* sink;
  EventStream events;
  std::shared_ptr<SimExchange> exchange;
  std::unique_ptr<rpc::Server> server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  // Room for the whole input and every answer, so neither side blocks.
  const int room = 1 << 20;
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  size_t written = 0;
  while (written < size) {
    const ssize_t n = write(pair[0], data + written, size - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  shutdown(pair[0], SHUT_WR);
  fixture.server->serveConnection(rpc::TcpSocket(pair[1]));
  close(pair[0]);
  return 0;
}
