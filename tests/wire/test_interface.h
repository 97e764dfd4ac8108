// A small interface for testing the runtime on its own: echo, context
// handles, a procedure that holds the call until released, and one that
// counts its runs and closes the connection without an answer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/event.h"
#include "rpc/server_interface.h"
#include "rpc/status.h"

namespace zem::test {

enum TestOp : uint16_t {
  kEcho = 0,
  kOpenContext = 1,
  kUseContext = 2,
  kHold = 3,
  kCloseContext = 4,
  kFault = 5,
  kRunAndDrop = 6
};

inline const rpc::SyntaxId& testInterfaceId() {
  static const rpc::SyntaxId id{*rpc::Uuid::parse("6a3b5c8e-1111-4e2f-9a1d-0123456789ab"), 2, 1};
  return id;
}

class TestInterface : public rpc::ServerInterface {
 public:
  class Context : public rpc::ContextObject {
   public:
    explicit Context(TestInterface& owner) : owner_(owner) {}
    void rundown() override {
      ++owner_.rundowns;
      owner_.rundownSeen.set();
    }

   private:
    TestInterface& owner_;
  };

  rpc::SyntaxId syntax() const override { return testInterfaceId(); }
  uint16_t operationCount() const override { return 7; }

  rpc::Outcome invoke(rpc::ServerCall& call, uint16_t opnum, rpc::NdrReader& in, rpc::NdrWriter& out) override {
    switch (opnum) {
      case kEcho: {
        std::vector<uint8_t> bytes(in.remaining());
        in.bytes(bytes.data(), bytes.size());
        out.bytes(bytes.data(), bytes.size());
        return rpc::Outcome::reply();
      }
      case kOpenContext:
        rpc::writeContextHandle(out, call.group().open(std::make_shared<Context>(*this)));
        return rpc::Outcome::reply();
      case kUseContext:
      case kCloseContext: {
        rpc::ContextHandle handle;
        if (!rpc::readContextHandle(in, handle)) return rpc::Outcome::fault(rpc::fault::kBadStubData);
        const auto object = opnum == kUseContext ? call.group().find(handle) : call.group().close(handle);
        if (!object) return rpc::Outcome::fault(rpc::fault::kContextMismatch);
        out.u32(1);
        return rpc::Outcome::reply();
      }
      case kHold: {
        holding.set();
        std::unique_lock lock(mutex_);
        while (!released_ && !call.clientGone()) cond_.wait_for(lock, std::chrono::milliseconds(20));
        ended.set();
        if (!released_) return rpc::Outcome::drop();
        out.u32(2);
        return rpc::Outcome::reply();
      }
      case kRunAndDrop:
        ++runsDropped;
        return rpc::Outcome::drop();
      default:
        return rpc::Outcome::fault(0x1234);
    }
  }

  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cond_.notify_all();
  }

  std::atomic<int> rundowns{0};
  std::atomic<int> runsDropped{0};
  zem::Event rundownSeen{zem::Event::Reset::Auto};
  zem::Event holding{zem::Event::Reset::Auto};
  zem::Event ended{zem::Event::Reset::Auto};

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  bool released_ = false;
};

}  // namespace zem::test
