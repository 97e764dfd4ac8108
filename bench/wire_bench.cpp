// The wire's cost: round trips of sendCompletion (ten 80-character strings)
// and keepAlive through the runtime on loopback, against a raw TCP
// ping-pong of the same byte counts (the floor on this machine); and how
// many keepAlive calls per second exchange-sim serves for 1, 10 and 100
// concurrent connections.
//
//   wire_bench [round trips per measurement, default 5000]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "provider/exchange/exchange_client.h"
#include "provider/exchange/exchange_text.h"
#include "rpc/pdu.h"
#include "rpc/server.h"
#include "support/process.h"
#include "tools/exchange_sim/exchange_dispatch.h"
#include "tools/exchange_sim/sim_exchange.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double medianUs = 0;
  double p99Us = 0;
};

template <typename Call>
Figures measure(int count, Call call) {
  for (int i = 0; i < count / 10; ++i) call();  // warm up
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    call();
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

// A TCP server that answers every requestBytes it reads with responseBytes.
class RawPingPong {
 public:
  RawPingPong(size_t requestBytes, size_t responseBytes) {
    listener_.listen("127.0.0.1", 0);
    thread_ = std::thread([this, requestBytes, responseBytes] {
      rpc::TcpSocket socket = listener_.accept();
      socket.setNoDelay();
      std::vector<uint8_t> in(requestBytes), out(responseBytes, 0x5A);
      while (socket.receiveExact(in, rpc::TcpSocket::kNoLimit).isOk() && socket.sendAll(out).isOk()) {
      }
    });
    client_.open("127.0.0.1", listener_.port());
    client_.connect(2000);
    client_.setNoDelay();
    request_.assign(requestBytes, 0xA5);
    response_.resize(responseBytes);
  }
  ~RawPingPong() {
    client_.abort();
    thread_.join();
  }
  void roundTrip() {
    client_.sendAll(request_);
    client_.receiveExact(response_, rpc::TcpSocket::kNoLimit);
  }

 private:
  rpc::TcpListener listener_;
  rpc::TcpSocket client_;
  std::thread thread_;
  std::vector<uint8_t> request_, response_;
};

void roundTrips(int count) {
  std::FILE* sink = std::tmpfile();  // takes the few events left unmuted
  EventStream events(sink);
  events.mute({"keepalive", "completion"});  // as exchange-sim --quiet: the runtime is measured, not JSON
  auto exchange = std::make_shared<SimExchange>(events, SimOptions{});
  rpc::Server server;
  server.addInterface(std::make_shared<ExchangeDispatcher>(exchange));
  server.start();
  ExchangeClient client;
  client.bind("ncacn_ip_tcp:127.0.0.1[" + std::to_string(server.port()) + "]");
  ProviderContext context{};
  client.registerProvider(&context, 1, vendorProviderNames(), defaultRegistrationFlags());

  MessageRecord record{};
  record.MsgReferenceId = 42;
  MessageData items{};
  for (auto& slot : items.Strings) narrowToWireString(std::string(80, 'r'), slot);

  // Whole PDUs on the wire: a 24-byte header and the stub.
  const size_t completionRequest = rpc::kRequestHeaderSize + 1818, keepAliveRequest = rpc::kRequestHeaderSize + 20;
  const size_t shortResponse = rpc::kRequestHeaderSize + 2;

  const Figures completion = measure(count, [&] { client.sendCompletion(context, record, items); });
  Figures rawCompletion;
  {
    RawPingPong raw(completionRequest, shortResponse);
    rawCompletion = measure(count, [&] { raw.roundTrip(); });
  }
  const Figures keepAlive = measure(count, [&] { client.keepAlive(context); });
  Figures rawKeepAlive;
  {
    RawPingPong raw(keepAliveRequest, shortResponse);
    rawKeepAlive = measure(count, [&] { raw.roundTrip(); });
  }
  std::printf("round trips on loopback, %d each (microseconds)\n", count);
  std::printf("  %-34s %8s %8s %8s %8s %7s\n", "", "median", "p99", "raw med", "raw p99", "ratio");
  std::printf("  %-34s %8.1f %8.1f %8.1f %8.1f %6.2fx\n", "sendCompletion 10x80 (1842/26 B)", completion.medianUs,
              completion.p99Us, rawCompletion.medianUs, rawCompletion.p99Us,
              completion.medianUs / rawCompletion.medianUs);
  std::printf("  %-34s %8.1f %8.1f %8.1f %8.1f %6.2fx\n", "keepAlive (44/26 B)", keepAlive.medianUs, keepAlive.p99Us,
              rawKeepAlive.medianUs, rawKeepAlive.p99Us, keepAlive.medianUs / rawKeepAlive.medianUs);
  exchange->stop();
  server.stop();
  std::fclose(sink);
}

void keepAliveThroughput(const std::string& simulator) {
  zem::test::ChildProcess sim({simulator, "--port", "0", "--quiet"});
  std::string line;
  sim.readLine(line, 10000);
  const int port = nlohmann::json::parse(line, nullptr, false).value("port", 0);
  const std::string binding = "ncacn_ip_tcp:127.0.0.1[" + std::to_string(port) + "]";
  std::printf("keepAlive calls per second served by exchange-sim (2 s each)\n");
  for (int connections : {1, 10, 100}) {
    std::vector<std::unique_ptr<ExchangeClient>> clients;
    std::vector<ProviderContext> contexts(static_cast<size_t>(connections));
    for (int i = 0; i < connections; ++i) {
      clients.push_back(std::make_unique<ExchangeClient>());
      clients.back()->bind(binding);
      clients.back()->registerProvider(&contexts[static_cast<size_t>(i)], i + 1, vendorProviderNames(),
                                       defaultRegistrationFlags());
    }
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0}, failures{0};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < connections; ++i) {
      threads.emplace_back([&, i] {
        while (!stop) {
          if (clients[static_cast<size_t>(i)]->keepAlive(contexts[static_cast<size_t>(i)]).succeeded())
            ++calls;
          else
            ++failures;
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("  %3d connections: %9.0f calls/s (%ld failed)\n", connections, static_cast<double>(calls) / seconds,
                failures.load());
  }
  sim.writeLine(R"({"cmd":"quit"})");
  sim.wait();
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
  roundTrips(count);
  keepAliveThroughput(EXCHANGE_SIM);
  return 0;
}
