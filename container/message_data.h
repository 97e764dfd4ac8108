// clZem_Message_Data: the message container (class identifier 4, factory
// name "clZem_Message_Data"). Every message between the server, the library
// and the application travels as one: a header of numeric fields and up to
// ten items, short texts kept in an item store (clZemBuffer) that the
// container owns and creates with its first item.
//
// Items may be stored and read only while the message type is 1, 2 or 3
// (request, informational message, completion). An item operation that finds
// another type drops the store; one that finds a valid type but no store
// marks the container with type 8 (none). An item the wire cannot carry
// (longer than 80 UTF-16 units: item_text.h) is refused and sets the item
// error to 29 for the rest of the container's life.
//
// Two containers are equal (isEqual) when both are message containers with
// the same server ID, which is also the hash.
//
// No lock: a container is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "container/collectable.h"
#include "container/zem_buffer.h"

namespace zem {

class clZem_Message_Data final : public Collectable {
 public:
  static constexpr ClassId kClassId = 4;
  static constexpr const char* kFactoryName = "clZem_Message_Data";

  static constexpr int32_t kTypeNone = 8;        // ZEM_MSG_NONE
  static constexpr int32_t kStatusNew = 9;       // status of a new container
  static constexpr int32_t kItemOk = 10;         // item error while no item was too long
  static constexpr int32_t kItemTooLong = 29;    // ZEM_ERROR_ITEM_TOO_LONG

  clZem_Message_Data() = default;
  ~clZem_Message_Data() override = default;

  // Header fields. The message-type writer stores any value.
  int32_t getMessageType() const { return m_MsgType; }
  void setMessageType(int32_t type) { m_MsgType = type; }
  int32_t getCallID() const { return m_CallId; }
  void setCallID(int32_t id) { m_CallId = id; }
  int32_t getHeldCallID() const { return m_HeldCallId; }
  void setHeldCallID(int32_t id) { m_HeldCallId = id; }
  int32_t getNetworkCallID() const { return m_NetworkCallId; }
  void setNetworkCallID(int32_t id) { m_NetworkCallId = id; }
  int32_t getReferenceID() const { return m_ReferenceId; }
  void setReferenceID(int32_t id) { m_ReferenceId = id; }
  int32_t getServerID() const { return m_ServerId; }
  void setServerID(int32_t id) { m_ServerId = id; }
  int32_t getProviderID() const { return m_ProviderId; }
  void setProviderID(int32_t id) { m_ProviderId = id; }
  int32_t getStatus() const { return m_Status; }
  void setStatus(int32_t status) { m_Status = status; }
  int32_t getCallHandle() const { return m_CallHandle; }
  void setCallHandle(int32_t handle) { m_CallHandle = handle; }
  int32_t getNodeID() const { return m_NodeId; }
  void setNodeID(int32_t id) { m_NodeId = id; }
  int32_t getItemError() const { return m_ItemError; }

  // True when the text was stored. A null text is refused without side
  // effects. setFirstItem throws std::bad_alloc when the item store cannot
  // be allocated.
  bool setFirstItem(const char* text);
  bool setNextItem(const char* text);
  // The item's text, or null. The text is the store's own and stays valid
  // until the next setFirstItem/setNextItem or the container's end.
  const char* getFirstItem();
  const char* getNextItem();

  bool hasItemStore() const { return m_Buffer != nullptr; }

  std::unique_ptr<Collectable> newSpecies() const override;
  // Header, item error and items alike.
  std::unique_ptr<Collectable> copy() const override;
  ClassId isA() const override { return kClassId; }
  uint32_t hash() const override;
  bool isEqual(const Collectable* other) const override;

  static std::unique_ptr<Collectable> create();

  // Containers allocate through the container fail point (fail_points.h).
  static void* operator new(size_t size);
  static void operator delete(void* memory) noexcept;

 private:
  bool hasItemType() const { return m_MsgType >= 1 && m_MsgType <= 3; }
  // Refuses a text the wire cannot carry and remembers it in the item error.
  bool acceptsLength(const char* text);
  // An item operation found the container without the store it needs.
  const char* refuseItemAccess();

  int32_t m_MsgType = kTypeNone;
  int32_t m_CallId = 0;
  int32_t m_HeldCallId = 0;
  int32_t m_NetworkCallId = 0;
  int32_t m_ReferenceId = 0;
  int32_t m_ServerId = 0;
  int32_t m_ProviderId = 0;
  int32_t m_Status = kStatusNew;
  std::unique_ptr<clZemBuffer> m_Buffer;
  int32_t m_CallHandle = 0;
  int32_t m_NodeId = 0;
  int32_t m_ItemError = kItemOk;
};

}  // namespace zem
