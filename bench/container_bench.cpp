// Cost of the container exports.
//
//   BM_ExportCycle      one create - fill (type 3, ten items, server ID) -
//                       read (ten items, the IDs) - destroy cycle through the
//                       exports, as an application answers a request;
//   BM_DirectCycle      the same work on a container object without handles:
//                       the baseline that shows what the handle table costs;
//   BM_LookupInTable/N  one field read through a handle while N containers
//                       live: the lookup does not depend on N.
//
// Every allocation of the process is counted (global operator new is
// replaced below); allocs_per_cycle must stay at most 2: the container and
// its item store.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "container/container_runtime.h"
#include "container/message_data.h"
#include "zemlink.h"

namespace {

std::atomic<uint64_t> allocations{0};

const char* const kItems[10] = {"4711", "caller 0172 555 0100", "", "queue=7", "agent 12",
                                "2026-12-10 05:00:23", "x", "ok", "route 3", "last item of ten"};

void countAllocations(benchmark::State& state, uint64_t before) {
  state.counters["allocs_per_cycle"] = benchmark::Counter(
      static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}

void BM_ExportCycle(benchmark::State& state) {
  zem::ContainerRuntime runtime;
  int32_t serverId = 0;
  const uint64_t before = allocations.load();
  for (auto _ : state) {
    const ZemContainerHandle handle = Zem_createDataContainer();
    Zem_setMessageType(handle, ZEM_MSG_COMPLETION);
    Zem_setFirstItem(handle, kItems[0]);
    for (int i = 1; i < 10; ++i) Zem_setNextItem(handle, kItems[i]);
    Zem_setServerID(handle, ++serverId);
    benchmark::DoNotOptimize(Zem_getFirstItem(handle));
    for (int i = 1; i < 10; ++i) benchmark::DoNotOptimize(Zem_getNextItem(handle));
    benchmark::DoNotOptimize(Zem_getServerID(handle) + Zem_getCallID(handle) + Zem_getMessageType(handle));
    Zem_destroyDataContainer(handle);
  }
  countAllocations(state, before);
}
BENCHMARK(BM_ExportCycle);

void BM_DirectCycle(benchmark::State& state) {
  int32_t serverId = 0;
  const uint64_t before = allocations.load();
  for (auto _ : state) {
    auto container = std::make_unique<zem::clZem_Message_Data>();
    container->setMessageType(ZEM_MSG_COMPLETION);
    container->setFirstItem(kItems[0]);
    for (int i = 1; i < 10; ++i) container->setNextItem(kItems[i]);
    container->setServerID(++serverId);
    benchmark::DoNotOptimize(container->getFirstItem());
    for (int i = 1; i < 10; ++i) benchmark::DoNotOptimize(container->getNextItem());
    benchmark::DoNotOptimize(container->getServerID() + container->getCallID() + container->getMessageType());
    container.reset();
  }
  countAllocations(state, before);
}
BENCHMARK(BM_DirectCycle);

void BM_LookupInTable(benchmark::State& state) {
  zem::ContainerRuntime runtime;
  std::vector<ZemContainerHandle> handles(static_cast<size_t>(state.range(0)));
  for (ZemContainerHandle& handle : handles) handle = Zem_createDataContainer();
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Zem_getCallID(handles[next]));
    next = (next + 7919) % handles.size();  // stride through the table
  }
  for (ZemContainerHandle handle : handles) Zem_destroyDataContainer(handle);
}
BENCHMARK(BM_LookupInTable)->Arg(1)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 19);

}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

// These replace the global pair, so free() does match the malloc() above;
// GCC cannot tell a replacement from a call to the standard one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

BENCHMARK_MAIN();
