// The container family of exports, called as an application calls them:
// results for live and bad handles, the item results, the call-handle lines
// and the exception log.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "container/fail_points.h"
#include "container_fixture.h"
#include "support/character_type.h"
#include "support/stdout_capture.h"
#include "zemlink.h"

namespace {

using zem::FailPoint;
using zem::RegValue;
using zem::test::ContainerExports;
using zem::test::capturedStdout;

const std::string k80(80, 'a');
const std::string k81(81, 'b');

// Pointer results are compared as 0 (none) and 1 (a text).
int64_t textResult(const char* text) { return text == nullptr ? 0 : 1; }

struct HandleCall {
  const char* name;
  std::function<int64_t(ZemContainerHandle)> call;
  int64_t badHandleResult;
};

const std::vector<HandleCall>& everyHandleFunction() {
  static const std::vector<HandleCall> calls = {
      {"Zem_destroyDataContainer", [](ZemContainerHandle h) { return Zem_destroyDataContainer(h); }, 17},
      {"Zem_getMessageType", [](ZemContainerHandle h) { return Zem_getMessageType(h); }, 8},
      {"Zem_setMessageType", [](ZemContainerHandle h) { return Zem_setMessageType(h, 3); }, 17},
      {"Zem_getStatus", [](ZemContainerHandle h) { return Zem_getStatus(h); }, 17},
      {"Zem_setStatus", [](ZemContainerHandle h) { return Zem_setStatus(h, 1); }, 17},
      {"Zem_getServerID", [](ZemContainerHandle h) { return Zem_getServerID(h); }, 8},
      {"Zem_setServerID", [](ZemContainerHandle h) { return Zem_setServerID(h, 1); }, 17},
      {"Zem_getReferenceID", [](ZemContainerHandle h) { return Zem_getReferenceID(h); }, 0},
      {"Zem_setReferenceID", [](ZemContainerHandle h) { return Zem_setReferenceID(h, 1); }, 17},
      {"Zem_getCallID", [](ZemContainerHandle h) { return Zem_getCallID(h); }, 0},
      {"Zem_setCallID", [](ZemContainerHandle h) { return Zem_setCallID(h, 1); }, 17},
      {"Zem_getHeldCallID", [](ZemContainerHandle h) { return Zem_getHeldCallID(h); }, 0},
      {"Zem_setHeldCallID", [](ZemContainerHandle h) { return Zem_setHeldCallID(h, 1); }, 17},
      {"Zem_getNetworkCallID", [](ZemContainerHandle h) { return Zem_getNetworkCallID(h); }, 0},
      {"Zem_setNetworkCallID", [](ZemContainerHandle h) { return Zem_setNetworkCallID(h, 1); }, 17},
      {"Zem_getNodeID", [](ZemContainerHandle h) { return Zem_getNodeID(h); }, 0},
      {"Zem_setNodeID", [](ZemContainerHandle h) { return Zem_setNodeID(h, 1); }, 17},
      {"Zem_getCallHandle", [](ZemContainerHandle h) { return Zem_getCallHandle(h); }, 0},
      {"Zem_setCallHandle", [](ZemContainerHandle h) { return Zem_setCallHandle(h, 1); }, 17},
      {"Zem_getFirstItem", [](ZemContainerHandle h) { return textResult(Zem_getFirstItem(h)); }, 0},
      {"Zem_getNextItem", [](ZemContainerHandle h) { return textResult(Zem_getNextItem(h)); }, 0},
      {"Zem_setFirstItem", [](ZemContainerHandle h) { return Zem_setFirstItem(h, "x"); }, 17},
      {"Zem_setNextItem", [](ZemContainerHandle h) { return Zem_setNextItem(h, "x"); }, 17},
  };
  return calls;
}

TEST_F(ContainerExports, BadHandlesGetTheFixedResultsOfEveryFunction) {
  const ZemContainerHandle live = Zem_createDataContainer();
  const ZemContainerHandle destroyed = Zem_createDataContainer();
  ASSERT_EQ(Zem_destroyDataContainer(destroyed), 10);
  const struct {
    const char* what;
    ZemContainerHandle handle;
  } badHandles[] = {
      {"zero", 0},
      {"destroyed", destroyed},
      {"never issued", 0x00ABCDEFu},
      {"another generation of a live slot", live ^ 0x00100000u},
      {"all ones", 0xFFFFFFFFu},
  };
  for (const auto& bad : badHandles) {
    for (const HandleCall& function : everyHandleFunction()) {
      int64_t result = -1;
      capturedStdout([&] { result = function.call(bad.handle); });  // the call-handle functions print
      EXPECT_EQ(result, function.badHandleResult) << function.name << " with a " << bad.what << " handle";
    }
  }
  // None of it touched the live container.
  EXPECT_EQ(Zem_getMessageType(live), 8);
  EXPECT_EQ(Zem_getStatus(live), 9);
  EXPECT_EQ(Zem_destroyDataContainer(live), 10);
}

TEST_F(ContainerExports, NewContainerValues) {
  const ZemContainerHandle handle = Zem_createDataContainer();
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(Zem_getMessageType(handle), 8);
  EXPECT_EQ(Zem_getStatus(handle), 9);
  for (auto reader : {Zem_getServerID, Zem_getReferenceID, Zem_getCallID, Zem_getHeldCallID, Zem_getNetworkCallID,
                      Zem_getNodeID, Zem_getCallHandle}) {
    int32_t value = -1;
    capturedStdout([&] { value = reader(handle); });
    EXPECT_EQ(value, 0);
  }
  EXPECT_EQ(Zem_getFirstItem(handle), nullptr);
  EXPECT_EQ(Zem_setFirstItem(handle, "x"), 9);  // type 8 takes no items
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

TEST_F(ContainerExports, WritersAndReadersPairUp) {
  using Writer = int32_t (*)(ZemContainerHandle, int32_t);
  using Reader = int32_t (*)(ZemContainerHandle);
  const struct {
    const char* name;
    Writer write;
    Reader read;
  } fields[] = {
      {"message type", Zem_setMessageType, Zem_getMessageType},
      {"status", Zem_setStatus, Zem_getStatus},
      {"server ID", Zem_setServerID, Zem_getServerID},
      {"reference ID", Zem_setReferenceID, Zem_getReferenceID},
      {"call ID", Zem_setCallID, Zem_getCallID},
      {"held call ID", Zem_setHeldCallID, Zem_getHeldCallID},
      {"network call ID", Zem_setNetworkCallID, Zem_getNetworkCallID},
      {"node ID", Zem_setNodeID, Zem_getNodeID},
      {"call handle", Zem_setCallHandle, Zem_getCallHandle},
  };
  const ZemContainerHandle handle = Zem_createDataContainer();
  int32_t value = -1000;
  for (const auto& field : fields) {
    int32_t written = -1;
    capturedStdout([&] { written = field.write(handle, value); });
    EXPECT_EQ(written, 10) << field.name;
    --value;
  }
  value = -1000;
  for (const auto& field : fields) {
    int32_t read = -1;
    capturedStdout([&] { read = field.read(handle); });
    EXPECT_EQ(read, value) << field.name;
    --value;
  }
  // Any message type is stored unchecked, 7 included.
  EXPECT_EQ(Zem_setMessageType(handle, 7), 10);
  EXPECT_EQ(Zem_getMessageType(handle), 7);
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

TEST_F(ContainerExports, ItemResults) {
  const ZemContainerHandle handle = Zem_createDataContainer();
  ASSERT_EQ(Zem_setMessageType(handle, 3), 10);
  EXPECT_EQ(Zem_setFirstItem(handle, k80.c_str()), 10);
  EXPECT_STREQ(Zem_getFirstItem(handle), k80.c_str());
  EXPECT_EQ(Zem_setFirstItem(handle, k81.c_str()), 29);
  // From now on every refusal reports 29, whatever its cause.
  ASSERT_EQ(Zem_setMessageType(handle, 8), 10);
  EXPECT_EQ(Zem_setNextItem(handle, "short"), 29);
  // Type 8 dropped the items; back on type 3 a read finds no store and
  // clears the type again, and the next refusal reports 29 as well.
  ASSERT_EQ(Zem_setMessageType(handle, 3), 10);
  EXPECT_EQ(Zem_getFirstItem(handle), nullptr);
  EXPECT_EQ(Zem_setFirstItem(handle, "fine"), 29);
  ASSERT_EQ(Zem_setMessageType(handle, 3), 10);
  EXPECT_EQ(Zem_setFirstItem(handle, "fine"), 10);
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

// One text offered as first and as next item of fresh containers under the
// given character type: the result, and the text read back when stored.
struct ItemCase {
  std::string text;
  int32_t result;
};
void expectItemResults(const char* locale, const std::vector<ItemCase>& cases) {
  zem::test::CharacterType type(locale);
  ASSERT_TRUE(type.ok()) << "no locale " << locale << " here";
  for (const ItemCase& c : cases) {
    SCOPED_TRACE(std::string(locale) + ", " + std::to_string(c.text.size()) + " bytes");
    for (const bool first : {true, false}) {
      const ZemContainerHandle handle = Zem_createDataContainer();
      ASSERT_EQ(Zem_setMessageType(handle, ZEM_MSG_COMPLETION), 10);
      if (!first) {
        ASSERT_EQ(Zem_setFirstItem(handle, "before"), 10);
      }
      EXPECT_EQ(first ? Zem_setFirstItem(handle, c.text.c_str()) : Zem_setNextItem(handle, c.text.c_str()), c.result);
      const char* stored = Zem_getFirstItem(handle);
      if (!first) stored = Zem_getNextItem(handle);
      if (c.result == 10) {
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(std::string(stored), c.text);
      } else {
        EXPECT_EQ(stored, nullptr);
      }
      EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
    }
  }
}

// An item is as long as the wire's UTF-16 units count it, whatever its bytes:
// texts of full length in a multibyte locale are stored and read back
// intact, as first and as next item; one unit more is refused with 29.
TEST_F(ContainerExports, ItemsAreMeasuredAsTheWireCarriesThemInUtf8) {
  using zem::test::repeated;
  const std::string e = "\xc3\xa9";                 // U+00E9, two bytes, one unit
  const std::string euro = "\xe2\x82\xac";         // U+20AC, three bytes, one unit
  const std::string phone = "\xf0\x9f\x93\x9e";   // U+1F4DE, four bytes, two units
  expectItemResults("C.UTF-8", {{repeated(e, 40), 10},
                                {repeated(e, 80), 10},
                                {repeated(euro, 80), 10},
                                {repeated(phone, 40), 10},
                                {std::string(80, '\xe9'), 10},  // not UTF-8: a unit a byte, as it is sent
                                {repeated(e, 81), 29},
                                {std::string(79, 'a') + phone, 29},
                                {repeated(phone, 81), 29},
                                {std::string(81, '\xe9'), 29}});
}

// In the "C" locale a byte is a character, as ever.
TEST_F(ContainerExports, ItemsAreMeasuredInBytesInTheCLocale) {
  expectItemResults("C", {{std::string(80, '\xe9'), 10},
                          {zem::test::repeated("\xc3\xa9", 40), 10},
                          {zem::test::repeated("\xc3\xa9", 41), 29}});
}

TEST_F(ContainerExports, ElevenNextItemsAfterTheFirst) {
  const ZemContainerHandle handle = Zem_createDataContainer();
  ASSERT_EQ(Zem_setMessageType(handle, 1), 10);
  ASSERT_EQ(Zem_setFirstItem(handle, "0"), 10);
  for (int i = 1; i <= 11; ++i) {
    EXPECT_EQ(Zem_setNextItem(handle, std::to_string(i).c_str()), i <= 9 ? 10 : 9) << "item " << i;
  }
  std::string read = Zem_getFirstItem(handle);
  while (const char* next = Zem_getNextItem(handle)) read += std::string(",") + next;
  EXPECT_EQ(read, "0,1,2,3,4,5,6,7,8,9");
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

TEST_F(ContainerExports, TypeRulesReachThroughTheHandle) {
  const ZemContainerHandle handle = Zem_createDataContainer();
  // setNextItem on a completion without items clears the type; then even
  // setFirstItem is refused.
  ASSERT_EQ(Zem_setMessageType(handle, 3), 10);
  EXPECT_EQ(Zem_setNextItem(handle, "x"), 9);
  EXPECT_EQ(Zem_getMessageType(handle), 8);
  EXPECT_EQ(Zem_setFirstItem(handle, "x"), 9);

  // A filled container whose type becomes 5 loses its items on reading.
  ASSERT_EQ(Zem_setMessageType(handle, 2), 10);
  ASSERT_EQ(Zem_setFirstItem(handle, "a"), 10);
  ASSERT_EQ(Zem_setNextItem(handle, "b"), 10);
  ASSERT_EQ(Zem_setMessageType(handle, 5), 10);
  EXPECT_EQ(Zem_getFirstItem(handle), nullptr);
  ASSERT_EQ(Zem_setMessageType(handle, 2), 10);
  EXPECT_EQ(Zem_getNextItem(handle), nullptr);
  EXPECT_EQ(Zem_getMessageType(handle), 8);
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

TEST_F(ContainerExports, CallHandleLines) {
  const ZemContainerHandle handle = Zem_createDataContainer();
  const ZemContainerHandle gone = Zem_createDataContainer();
  ASSERT_EQ(Zem_destroyDataContainer(gone), 10);

  std::vector<int32_t> results;
  const std::string printed = capturedStdout([&] {
    results.push_back(Zem_setCallHandle(handle, 77));
    results.push_back(Zem_getCallHandle(handle));
    results.push_back(Zem_setCallHandle(handle, -5));
    results.push_back(Zem_getCallHandle(handle));
    results.push_back(Zem_getCallHandle(0));
    results.push_back(Zem_setCallHandle(gone, 3));
    results.push_back(Zem_getCallHandle(gone));
    results.push_back(Zem_setCallHandle(0, 3));
  });
  EXPECT_EQ(results, (std::vector<int32_t>{10, 77, 10, -5, 0, 17, 0, 17}));
  EXPECT_EQ(printed,
            "Zem_setCallHandle(): CallHandle=77\n"
            "Zem_getCallHandle - CallHandle=77\n"
            "Zem_setCallHandle(): CallHandle=-5\n"
            "Zem_getCallHandle - CallHandle=-5\n"
            "Zem_getCallHandle - Bad container\n"
            "Zem_setCallHandle(): Bad container\n"
            "Zem_getCallHandle - Bad container\n"
            "Zem_setCallHandle(): Bad container\n");
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

TEST_F(ContainerExports, AContainerSurvivesTheDestructionOfAnother) {
  const ZemContainerHandle a = Zem_createDataContainer();
  const ZemContainerHandle b = Zem_createDataContainer();
  ASSERT_EQ(Zem_setNodeID(a, 11), 10);
  ASSERT_EQ(Zem_setNodeID(b, 22), 10);
  ZemContainerHandle copyOfB = b;
  EXPECT_EQ(Zem_destroyDataContainer(b), 10);
  EXPECT_EQ(copyOfB, b);  // the caller's variable is not changed
  EXPECT_EQ(Zem_getNodeID(a), 11);
  EXPECT_EQ(Zem_getNodeID(copyOfB), 0);
  EXPECT_EQ(Zem_destroyDataContainer(a), 10);
  EXPECT_EQ(runtime_.table().liveCount(), 0u);
}

// ---- The exception log -------------------------------------------------

struct FailingCall {
  const char* name;
  FailPoint point;
  // Runs the export on a prepared container and gives its result.
  std::function<int64_t(ZemContainerHandle)> call;
  int64_t failureResult;
  // The log's lines for the handle.
  std::function<std::vector<std::string>(ZemContainerHandle)> lines;
};

std::string hData(ZemContainerHandle handle) { return "hData: " + std::to_string(handle); }

const std::vector<FailingCall>& everyGuardedFunction() {
  static const std::vector<FailingCall> calls = {
      {"Zem_createDataContainer", FailPoint::Allocation,
       [](ZemContainerHandle) { return static_cast<int64_t>(Zem_createDataContainer()); }, 0,
       [](ZemContainerHandle) { return std::vector<std::string>{"An exception occured at Zem_createDataContainer"}; }},
      {"Zem_setFirstItem", FailPoint::ContainerAccess,
       [](ZemContainerHandle h) { return Zem_setFirstItem(h, "abc"); }, 17,
       [](ZemContainerHandle h) {
         return std::vector<std::string>{"An exception occured at Zem_setFirstItem",
                                         hData(h) + ", Len(szData): 3, szData: abc"};
       }},
      {"Zem_setNextItem", FailPoint::ContainerAccess,
       [](ZemContainerHandle h) { return Zem_setNextItem(h, "next one"); }, 17,
       [](ZemContainerHandle h) {
         return std::vector<std::string>{"An exception occured at Zem_setNextItem",
                                         hData(h) + ", Len(szData): 8, szData: next one"};
       }},
      {"Zem_getFirstItem", FailPoint::ContainerAccess,
       [](ZemContainerHandle h) { return textResult(Zem_getFirstItem(h)); }, 0,
       [](ZemContainerHandle h) {
         return std::vector<std::string>{"An exception occured at Zem_getFirstItem", hData(h)};
       }},
      {"Zem_getNextItem", FailPoint::ContainerAccess,
       [](ZemContainerHandle h) { return textResult(Zem_getNextItem(h)); }, 0,
       [](ZemContainerHandle h) {
         return std::vector<std::string>{"An exception occured at Zem_getNextItem", hData(h)};
       }},
      {"Zem_setMessageType", FailPoint::ContainerAccess,
       [](ZemContainerHandle h) { return Zem_setMessageType(h, -3); }, 17,
       [](ZemContainerHandle h) {
         return std::vector<std::string>{"An exception occured at Zem_setMessageType", hData(h) + ", eMsgType: -3"};
       }},
  };
  return calls;
}

// A completion container without items: every guarded function reaches the
// point where it may fail.
ZemContainerHandle completionWithoutItems() {
  const ZemContainerHandle handle = Zem_createDataContainer();
  EXPECT_EQ(Zem_setMessageType(handle, 3), 10);
  return handle;
}

TEST_F(ContainerExports, ExceptionsAreLoggedWhileIsLogTraceExistsEvenAsZero) {
  setIsLogTrace(RegValue::dword("IsLogTrace", 0));
  createExceptionLogDirectory();
  std::vector<std::string> expected;
  for (const FailingCall& function : everyGuardedFunction()) {
    const ZemContainerHandle handle = completionWithoutItems();
    zem::armFailPoint(function.point);
    EXPECT_EQ(function.call(handle), function.failureResult) << function.name;
    for (const std::string& line : function.lines(handle)) expected.push_back(line);
    // The failure left the container usable.
    EXPECT_EQ(Zem_setMessageType(handle, 3), 10) << function.name;
    EXPECT_EQ(Zem_setFirstItem(handle, "after"), 10) << function.name;
    EXPECT_STREQ(Zem_getFirstItem(handle), "after") << function.name;
    EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
  }
  EXPECT_EQ(exceptionLogMessages(), expected);
  EXPECT_EQ(runtime_.table().liveCount(), 0u);
}

TEST_F(ContainerExports, AnItemStoreThatCannotBeMadeIsARefusalNotAnException) {
  setIsLogTrace(RegValue::dword("IsLogTrace", 1));
  createExceptionLogDirectory();
  const ZemContainerHandle handle = completionWithoutItems();
  zem::armFailPoint(FailPoint::Allocation);
  EXPECT_EQ(Zem_setFirstItem(handle, "abc"), 9);
  EXPECT_EQ(Zem_getMessageType(handle), 3) << "the type is kept";
  EXPECT_EQ(Zem_setFirstItem(handle, "abc"), 10) << "the next attempt makes the store";
  EXPECT_STREQ(Zem_getFirstItem(handle), "abc");
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
  EXPECT_FALSE(exceptionLogExists()) << "nothing was logged";
}

TEST_F(ContainerExports, AnyTypeOfIsLogTraceSwitchesTheLogOn) {
  setIsLogTrace(RegValue::text("IsLogTrace", "no"));
  createExceptionLogDirectory();
  zem::armFailPoint(FailPoint::Allocation);
  EXPECT_EQ(Zem_createDataContainer(), 0u);
  EXPECT_EQ(exceptionLogMessages(), std::vector<std::string>{"An exception occured at Zem_createDataContainer"});
}

TEST_F(ContainerExports, WithoutIsLogTraceNothingIsLogged) {
  createExceptionLogDirectory();
  for (bool keyExists : {false, true}) {
    if (keyExists) setIsLogTrace(std::nullopt);  // the key without the value
    for (const FailingCall& function : everyGuardedFunction()) {
      const ZemContainerHandle handle = completionWithoutItems();
      zem::armFailPoint(function.point);
      EXPECT_EQ(function.call(handle), function.failureResult) << function.name;
      EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
    }
  }
  EXPECT_FALSE(exceptionLogExists());
}

TEST_F(ContainerExports, AMissingLogDirectoryIsNotCreated) {
  setIsLogTrace(RegValue::dword("IsLogTrace", 1));
  zem::armFailPoint(FailPoint::Allocation);
  EXPECT_EQ(Zem_createDataContainer(), 0u);
  EXPECT_FALSE(exceptionLogExists());
}

TEST_F(ContainerExports, LongMessagesAreCutTo511Characters) {
  setIsLogTrace(RegValue::dword("IsLogTrace", 1));
  createExceptionLogDirectory();
  const ZemContainerHandle handle = completionWithoutItems();
  const std::string text(600, 'q');
  zem::armFailPoint(FailPoint::ContainerAccess);
  EXPECT_EQ(Zem_setFirstItem(handle, text.c_str()), 17);
  const std::vector<std::string> messages = exceptionLogMessages();
  ASSERT_EQ(messages.size(), 2u);
  const std::string full = hData(handle) + ", Len(szData): 600, szData: " + text;
  EXPECT_EQ(messages[1], full.substr(0, 511));
  EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

TEST_F(ContainerExports, AFailPointFailsOnceAfterItsPasses) {
  zem::armFailPoint(FailPoint::Allocation, 2);
  const ZemContainerHandle first = Zem_createDataContainer();
  const ZemContainerHandle second = Zem_createDataContainer();
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_EQ(Zem_createDataContainer(), 0u);
  const ZemContainerHandle fourth = Zem_createDataContainer();
  EXPECT_NE(fourth, 0u);
  for (ZemContainerHandle handle : {first, second, fourth}) EXPECT_EQ(Zem_destroyDataContainer(handle), 10);
}

}  // namespace
