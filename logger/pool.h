// A fixed pool of N records of type T, without locking.
//
// All records are part of the pool object itself; get() and free() are
// constant-time list operations, and the pool neither blocks nor grows: an
// empty pool gives null. Records are reused last-freed-first. T provides
// resetForReuse(), called on every record handed out.
//
// Not safe for concurrent use; LockedPool (locked_pool.h) is.
#pragma once

#include <cstddef>
#include <cstdint>

template <typename T, size_t N>
class pool {
 public:
  pool() {
    for (size_t i = 0; i < N; ++i) {
      nodes[i].link = i + 1 < N ? &nodes[i + 1] : nullptr;
      nodes[i].isFree = true;
    }
    freeHead = N > 0 ? &nodes[0] : nullptr;
  }
  virtual ~pool() = default;
  pool(const pool&) = delete;
  pool& operator=(const pool&) = delete;

  T* get() {
    Node* node = freeHead;
    if (node == nullptr) return nullptr;
    freeHead = node->link;
    node->isFree = false;
    node->item.resetForReuse();
    return &node->item;
  }

  // Gives a record back. Null, a record of another pool, and a record that
  // is already free are refused (false): taking one twice would hand it to
  // two users at once.
  bool free(T* record) {
    Node* node = nodeOf(record);
    if (node == nullptr || node->isFree) return false;
    node->item.next = nullptr;
    node->isFree = true;
    node->link = freeHead;
    freeHead = node;
    return true;
  }

 protected:
  static void prefetchForWriting(const char* address) {
#if defined(__x86_64__) || defined(__i386__)
    // PREFETCHW, which takes the line for writing; processors without it
    // treat it as a no-op.
    asm volatile("prefetchw %0" : : "m"(*address));
#else
    __builtin_prefetch(address, 1);
#endif
  }

  // Asks the processor to bring the next record to be handed out into this
  // core's cache, ready to be written: its first lines and its last. Records
  // usually come back from another thread (the logger's thread frees them),
  // so without this the next get() waits for those lines.
  void prefetchHead() const {
    const char* node = reinterpret_cast<const char*>(freeHead);
    if (node == nullptr) return;
    prefetchForWriting(node);
    prefetchForWriting(node + 64);
    prefetchForWriting(node + sizeof(Node) - 1);
  }

  struct Node {
    Node* link;   // next free node, while this one is free
    bool isFree;
    T item;
  };

  Node* nodeOf(T* record) {
    if (record == nullptr) return nullptr;
    const uintptr_t address = reinterpret_cast<uintptr_t>(record) - offsetof(Node, item);
    const uintptr_t first = reinterpret_cast<uintptr_t>(&nodes[0]);
    if (address < first || address >= first + sizeof nodes || (address - first) % sizeof(Node) != 0) return nullptr;
    return &nodes[(address - first) / sizeof(Node)];
  }

  Node* freeHead;
  Node nodes[N];
};
