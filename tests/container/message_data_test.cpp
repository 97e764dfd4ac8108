// The message container and its item rules, the collectable classes and
// their factory registration.
#include "container/message_data.h"

#include <gtest/gtest.h>

#include <string>

#include "container/buffer_item.h"
#include "container/class_factory.h"
#include "container/container_runtime.h"

namespace {

using zem::clBufferItem;
using zem::clZem_Message_Data;

const std::string k80(80, 'a');
const std::string k81(81, 'b');

// A container of the given type holding the given items.
std::unique_ptr<clZem_Message_Data> filled(int32_t type, int items) {
  auto container = std::make_unique<clZem_Message_Data>();
  container->setMessageType(type);
  for (int i = 0; i < items; ++i) {
    const std::string text = "item" + std::to_string(i);
    EXPECT_TRUE(i == 0 ? container->setFirstItem(text.c_str()) : container->setNextItem(text.c_str()));
  }
  return container;
}

// One of the four item operations; true when it stored or gave an item.
struct ItemOperation {
  const char* name;
  bool (*operation)(clZem_Message_Data&);
};

std::vector<std::string> readAll(clZem_Message_Data& container) {
  std::vector<std::string> items;
  for (const char* item = container.getFirstItem(); item != nullptr; item = container.getNextItem()) {
    items.emplace_back(item);
  }
  return items;
}

TEST(MessageData, ConstructionValues) {
  clZem_Message_Data container;
  EXPECT_EQ(container.getMessageType(), 8);
  EXPECT_EQ(container.getStatus(), 9);
  EXPECT_EQ(container.getItemError(), 10);
  for (int32_t field : {container.getCallID(), container.getHeldCallID(), container.getNetworkCallID(),
                        container.getReferenceID(), container.getServerID(), container.getProviderID(),
                        container.getCallHandle(), container.getNodeID()}) {
    EXPECT_EQ(field, 0);
  }
  EXPECT_FALSE(container.hasItemStore());
  EXPECT_EQ(container.getFirstItem(), nullptr);
  EXPECT_EQ(container.getMessageType(), 8);
}

TEST(MessageData, EveryItemTypeStoresAndReadsTenItems) {
  for (int32_t type : {1, 2, 3}) {
    auto containerOwner = filled(type, 10);
    clZem_Message_Data& container = *containerOwner;
    EXPECT_FALSE(container.setNextItem("eleventh")) << "type " << type;
    const std::vector<std::string> items = readAll(container);
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items.front(), "item0");
    EXPECT_EQ(items.back(), "item9");
    EXPECT_EQ(container.getMessageType(), type);
  }
}

// An item operation on a valid type without an item store marks the
// container with type 8, after which items are refused until the type is set
// again.
TEST(MessageData, ItemAccessWithoutStoreClearsTheType) {
  const ItemOperation cases[] = {
      {"getFirstItem", [](clZem_Message_Data& c) { return c.getFirstItem() != nullptr; }},
      {"getNextItem", [](clZem_Message_Data& c) { return c.getNextItem() != nullptr; }},
      {"setNextItem", [](clZem_Message_Data& c) { return c.setNextItem("x"); }},
  };
  for (const ItemOperation& c : cases) {
    for (int32_t type : {1, 2, 3}) {
      clZem_Message_Data container;
      container.setMessageType(type);
      EXPECT_FALSE(c.operation(container)) << c.name;
      EXPECT_EQ(container.getMessageType(), 8) << c.name << " on type " << type;
      EXPECT_FALSE(container.setFirstItem("x")) << c.name;
      EXPECT_FALSE(container.hasItemStore()) << c.name;
    }
  }
}

// Any item operation on a type outside 1..3 fails and drops the items.
TEST(MessageData, ItemAccessOnOtherTypesDropsTheItems) {
  const ItemOperation cases[] = {
      {"getFirstItem", [](clZem_Message_Data& c) { return c.getFirstItem() != nullptr; }},
      {"getNextItem", [](clZem_Message_Data& c) { return c.getNextItem() != nullptr; }},
      {"setFirstItem", [](clZem_Message_Data& c) { return c.setFirstItem("x"); }},
      {"setNextItem", [](clZem_Message_Data& c) { return c.setNextItem("x"); }},
  };
  for (const ItemOperation& c : cases) {
    for (int32_t otherType : {0, 4, 5, 7, 8, 9, -1}) {
      auto containerOwner = filled(1, 3);
      clZem_Message_Data& container = *containerOwner;
      container.setMessageType(otherType);
      EXPECT_FALSE(c.operation(container)) << c.name << " on type " << otherType;
      EXPECT_FALSE(container.hasItemStore()) << c.name << " on type " << otherType;
      EXPECT_EQ(container.getMessageType(), otherType);
      // Back to a valid type the items are gone, and the type falls to 8.
      container.setMessageType(1);
      EXPECT_EQ(container.getFirstItem(), nullptr);
      EXPECT_EQ(container.getMessageType(), 8);
    }
  }
}

TEST(MessageData, LengthLimitAndTheStickyItemError) {
  auto containerOwner = filled(3, 9);
  clZem_Message_Data& container = *containerOwner;
  EXPECT_TRUE(container.setNextItem(k80.c_str()));
  EXPECT_EQ(container.getItemError(), 10);

  EXPECT_FALSE(container.setNextItem(k81.c_str()));
  EXPECT_EQ(container.getItemError(), 29);
  EXPECT_FALSE(container.setFirstItem(k81.c_str()));
  const std::vector<std::string> items = readAll(container);
  ASSERT_EQ(items.size(), 10u);
  EXPECT_EQ(items[9], k80);

  // The error stays with the container, successful items notwithstanding.
  EXPECT_TRUE(container.setFirstItem("short"));
  EXPECT_EQ(container.getItemError(), 29);
  container.setMessageType(1);
  EXPECT_EQ(container.getItemError(), 29);
}

// The length is checked before the type: an over-long text on a container of
// another type changes nothing but the item error.
TEST(MessageData, OverlongTextIsRefusedBeforeTheTypeIsLookedAt) {
  auto containerOwner = filled(2, 2);
  clZem_Message_Data& container = *containerOwner;
  container.setMessageType(5);
  EXPECT_FALSE(container.setFirstItem(k81.c_str()));
  EXPECT_EQ(container.getItemError(), 29);
  EXPECT_TRUE(container.hasItemStore());
  container.setMessageType(2);
  EXPECT_EQ(readAll(container), (std::vector<std::string>{"item0", "item1"}));
}

TEST(MessageData, ReadCursor) {
  auto containerOwner = filled(1, 3);
  clZem_Message_Data& container = *containerOwner;
  // Without getFirstItem, reading starts at the first item.
  EXPECT_STREQ(container.getNextItem(), "item0");
  EXPECT_STREQ(container.getNextItem(), "item1");
  EXPECT_STREQ(container.getFirstItem(), "item0");
  EXPECT_STREQ(container.getNextItem(), "item1");
  EXPECT_STREQ(container.getNextItem(), "item2");
  EXPECT_EQ(container.getNextItem(), nullptr);
  EXPECT_EQ(container.getMessageType(), 1);  // running out is not a fault

  // setFirstItem leaves one item but keeps the cursor: nothing more comes
  // until getFirstItem starts again.
  EXPECT_TRUE(container.setFirstItem("again"));
  EXPECT_EQ(container.getNextItem(), nullptr);
  EXPECT_STREQ(container.getFirstItem(), "again");
  EXPECT_EQ(container.getNextItem(), nullptr);

  // New items after setFirstItem fill the slots behind it again.
  EXPECT_TRUE(container.setNextItem("second"));
  EXPECT_STREQ(container.getNextItem(), "second");
}

TEST(MessageData, ItemsAreCopiesAndEmptyTextsCount) {
  clZem_Message_Data container;
  container.setMessageType(2);
  char text[] = "caller";
  EXPECT_TRUE(container.setFirstItem(text));
  EXPECT_TRUE(container.setNextItem(""));
  text[0] = 'X';
  EXPECT_EQ(readAll(container), (std::vector<std::string>{"caller", ""}));
}

TEST(MessageData, NullTextIsRefusedWithoutSideEffects) {
  auto containerOwner = filled(1, 2);
  clZem_Message_Data& container = *containerOwner;
  EXPECT_FALSE(container.setFirstItem(nullptr));
  EXPECT_FALSE(container.setNextItem(nullptr));
  EXPECT_EQ(container.getItemError(), 10);
  EXPECT_EQ(container.getMessageType(), 1);
  EXPECT_EQ(readAll(container), (std::vector<std::string>{"item0", "item1"}));
}

TEST(MessageData, EqualityAndHashFollowTheServerId) {
  clZem_Message_Data a;
  clZem_Message_Data b;
  a.setServerID(-77);
  b.setServerID(-77);
  b.setCallID(5);
  b.setMessageType(3);
  b.setStatus(30);
  EXPECT_TRUE(a.isEqual(&b));
  EXPECT_TRUE(b.isEqual(&a));
  EXPECT_EQ(a.hash(), static_cast<uint32_t>(-77));
  EXPECT_EQ(a.hash(), b.hash());
  b.setServerID(78);
  EXPECT_FALSE(a.isEqual(&b));
  EXPECT_EQ(b.hash(), 78u);

  clBufferItem item(10);
  EXPECT_FALSE(a.isEqual(&item));
  EXPECT_FALSE(a.isEqual(nullptr));
  EXPECT_TRUE(item.isEqual(&item));
  EXPECT_FALSE(item.isEqual(&a));
}

TEST(MessageData, NewSpeciesAndCopy) {
  auto originalOwner = filled(3, 2);
  clZem_Message_Data& original = *originalOwner;
  original.setServerID(4);
  original.setCallHandle(6);
  original.setNodeID(7);
  original.setProviderID(8);
  original.setNextItem(k81.c_str());

  auto fresh = original.newSpecies();
  ASSERT_EQ(fresh->isA(), 4);
  auto& blank = static_cast<clZem_Message_Data&>(*fresh);
  EXPECT_EQ(blank.getMessageType(), 8);
  EXPECT_EQ(blank.getServerID(), 0);
  EXPECT_FALSE(blank.hasItemStore());

  auto twin = original.copy();
  auto& copy = static_cast<clZem_Message_Data&>(*twin);
  EXPECT_EQ(copy.getMessageType(), 3);
  EXPECT_EQ(copy.getCallHandle(), 6);
  EXPECT_EQ(copy.getNodeID(), 7);
  EXPECT_EQ(copy.getProviderID(), 8);
  EXPECT_EQ(copy.getItemError(), 29);
  EXPECT_TRUE(copy.isEqual(&original));
  EXPECT_EQ(readAll(copy), (std::vector<std::string>{"item0", "item1"}));
  // The copy has a store of its own.
  copy.setFirstItem("changed");
  EXPECT_STREQ(original.getFirstItem(), "item0");
}

TEST(BufferItem, CapacityAndText) {
  struct Case {
    uint32_t requested;
    uint32_t capacity;
    const char* stored;
  };
  const Case cases[] = {
      {0, 0, ""}, {1, 1, ""}, {4, 4, "abc"}, {80, 80, "abcdefghij"}, {81, 80, "abcdefghij"}, {4000, 80, "abcdefghij"},
  };
  for (const Case& c : cases) {
    clBufferItem item(c.requested);
    EXPECT_EQ(item.capacity(), c.capacity);
    EXPECT_STREQ(item.text(), "");
    const char original[] = "abcdefghij";
    item.setText(original);
    EXPECT_STREQ(item.text(), c.stored) << "capacity " << c.requested;
    EXPECT_STREQ(original, "abcdefghij");
  }

  clBufferItem longest(200);
  const std::string text(100, 'z');
  longest.setText(text.c_str());
  EXPECT_EQ(std::string(longest.text()), std::string(79, 'z'));
}

TEST(BufferItem, NewSpeciesAndCopy) {
  clBufferItem item(12);
  item.setText("hello");
  EXPECT_EQ(item.isA(), 2);

  auto fresh = item.newSpecies();
  auto& blank = static_cast<clBufferItem&>(*fresh);
  EXPECT_EQ(blank.isA(), 2);
  EXPECT_EQ(blank.capacity(), 0u);
  EXPECT_STREQ(blank.text(), "");

  auto twin = item.copy();
  auto& copy = static_cast<clBufferItem&>(*twin);
  EXPECT_EQ(copy.capacity(), 12u);
  EXPECT_STREQ(copy.text(), "hello");
  EXPECT_NE(copy.text(), item.text());
}

TEST(ClassFactory, TheRuntimeRegistersBothClassesForItsLifetime) {
  zem::ClassFactory& factory = zem::ClassFactory::instance();
  {
    zem::ContainerRuntime runtime;
    auto byId = factory.create(zem::ClassId{4});
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(byId->isA(), 4);
    EXPECT_EQ(static_cast<clZem_Message_Data&>(*byId).getStatus(), 9);
    auto byName = factory.create("clBufferItem");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->isA(), 2);
    EXPECT_EQ(factory.create("clZem_Message_Data")->isA(), 4);
    EXPECT_EQ(factory.create(zem::ClassId{2})->isA(), 2);
    EXPECT_EQ(factory.create(zem::ClassId{3}), nullptr);
  }
  EXPECT_FALSE(factory.knows(zem::ClassId{2}));
  EXPECT_FALSE(factory.knows(zem::ClassId{4}));
  EXPECT_FALSE(factory.knows("clBufferItem"));
  EXPECT_FALSE(factory.knows("clZem_Message_Data"));
}

TEST(ClassFactory, IdentifierAndNameAreRemovedSeparately) {
  zem::ClassFactory& factory = zem::ClassFactory::instance();
  factory.add(&clBufferItem::create, 90, "Ninety");
  factory.remove(zem::ClassId{90});
  EXPECT_FALSE(factory.knows(zem::ClassId{90}));
  ASSERT_TRUE(factory.knows("Ninety"));
  EXPECT_EQ(factory.create("Ninety")->isA(), 2);
  factory.remove("Ninety");
  EXPECT_FALSE(factory.knows("Ninety"));
}

}  // namespace
