#include "container/message_data.h"

#include <new>

#include "container/fail_points.h"
#include "container/item_text.h"

namespace zem {

bool clZem_Message_Data::acceptsLength(const char* text) {
  if (fitsItem(text)) return true;
  m_ItemError = kItemTooLong;
  return false;
}

bool clZem_Message_Data::setFirstItem(const char* text) {
  if (text == nullptr || !acceptsLength(text)) return false;
  if (!hasItemType()) {
    m_Buffer.reset();
    return false;
  }
  if (!m_Buffer) {
    // A store that cannot be had is a refusal like any other, not a fault.
    try {
      m_Buffer.reset(new clZemBuffer());
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  m_Buffer->setFirst(text);
  return true;
}

bool clZem_Message_Data::setNextItem(const char* text) {
  if (text == nullptr || !acceptsLength(text)) return false;
  if (!hasItemType()) {
    m_Buffer.reset();
    return false;
  }
  if (!m_Buffer) {
    m_MsgType = kTypeNone;
    return false;
  }
  return m_Buffer->addNext(text);
}

const char* clZem_Message_Data::refuseItemAccess() {
  if (hasItemType()) {
    m_MsgType = kTypeNone;
  } else {
    m_Buffer.reset();
  }
  return nullptr;
}

const char* clZem_Message_Data::getFirstItem() {
  if (!hasItemType() || !m_Buffer) return refuseItemAccess();
  return m_Buffer->getFirst();
}

const char* clZem_Message_Data::getNextItem() {
  if (!hasItemType() || !m_Buffer) return refuseItemAccess();
  return m_Buffer->getNext();
}

std::unique_ptr<Collectable> clZem_Message_Data::newSpecies() const { return create(); }

std::unique_ptr<Collectable> clZem_Message_Data::copy() const {
  std::unique_ptr<clZem_Message_Data> twin(new clZem_Message_Data());
  twin->m_MsgType = m_MsgType;
  twin->m_CallId = m_CallId;
  twin->m_HeldCallId = m_HeldCallId;
  twin->m_NetworkCallId = m_NetworkCallId;
  twin->m_ReferenceId = m_ReferenceId;
  twin->m_ServerId = m_ServerId;
  twin->m_ProviderId = m_ProviderId;
  twin->m_Status = m_Status;
  if (m_Buffer) twin->m_Buffer.reset(new clZemBuffer(*m_Buffer));
  twin->m_CallHandle = m_CallHandle;
  twin->m_NodeId = m_NodeId;
  twin->m_ItemError = m_ItemError;
  return twin;
}

uint32_t clZem_Message_Data::hash() const { return static_cast<uint32_t>(m_ServerId); }

bool clZem_Message_Data::isEqual(const Collectable* other) const {
  return other != nullptr && other->isA() == kClassId &&
         static_cast<const clZem_Message_Data*>(other)->m_ServerId == m_ServerId;
}

std::unique_ptr<Collectable> clZem_Message_Data::create() {
  return std::unique_ptr<Collectable>(new clZem_Message_Data());
}

void* clZem_Message_Data::operator new(size_t size) {
  hitFailPoint(FailPoint::Allocation);
  return ::operator new(size);
}

void clZem_Message_Data::operator delete(void* memory) noexcept { ::operator delete(memory); }

}  // namespace zem
