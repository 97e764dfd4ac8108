// Binding, registration and de-registration through the exports: argument
// and state checks, status events in order, the port of "zemlink.ini".
#include <fstream>

#include "container/fail_points.h"

#include "provider_fixture.h"

namespace zem::test {
namespace {

TEST_F(ProviderTest, ExportsCheckTheirArgumentsAndTheState) {
  startSimulator();
  ZemContainerHandle handle = 1234;

  // Nothing works before ZemlinkInit.
  EXPECT_EQ(Zem_RegisterProvider(5), ZEM_ERROR_NOT_READY);
  EXPECT_EQ(Zem_DeRegisterProvider(), ZEM_ERROR_NOT_READY);
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_ERROR_NOT_READY);
  EXPECT_EQ(handle, 0u);
  ZemContainerHandle completion = Zem_createDataContainer();
  EXPECT_EQ(Zem_SendServiceComplete(&completion), ZEM_ERROR_NOT_READY);

  // ZemlinkInit's own checks: the first argument, then the address.
  EXPECT_EQ(ZemlinkInit(1, nullptr, "127.0.0.1"), ZEM_ERROR_UNSUPPORTED);
  EXPECT_FALSE(provider().initialized());
  trace_.clear();
  EXPECT_EQ(ZemlinkInit(0, nullptr, nullptr), ZEM_ERROR_PARAMETER);
  EXPECT_EQ(ZemlinkInit(0, nullptr, std::string(1024, 'a').c_str()), ZEM_ERROR_PARAMETER);
  // Each call initialises the trace facade again, which notes its watch
  // thread; the provider itself writes nothing for the refused calls.
  EXPECT_EQ(trace_.count("TraceDebug::Initialization(): Registry thread created.\n"), 2u);
  ASSERT_NE(provider().traceFacade().logger(), nullptr);
  EXPECT_EQ(provider().traceFacade().logger()->messageCounts().requests, 2u) << trace_.text();
  EXPECT_FALSE(provider().initialized());
  // 1023 characters pass the check; making the binding contacts nobody.
  EXPECT_EQ(ZemlinkInit(0, nullptr, std::string(1023, 'a').c_str()), ZEM_SUCCESS);
  EXPECT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  EXPECT_TRUE(trace_.waitFor("\nStart logging Ostrel Tarvo Provider \n\n"));

  // Identifiers outside 1 to 1999999999.
  for (uint32_t id : {0u, 2000000000u, 0xFFFFFFFFu}) EXPECT_EQ(Zem_RegisterProvider(id), ZEM_ERROR_BAD_PROVIDER_ID) << id;
  EXPECT_EQ(Zem_DeRegisterProvider(), ZEM_ERROR_NOT_REGISTERED);

  // Zem_GetEvent modes; the variable is cleared whatever the outcome.
  for (int32_t mode : {-1, 2, 100}) {
    handle = 99;
    EXPECT_EQ(Zem_GetEvent(mode, &handle), ZEM_ERROR_PARAMETER) << mode;
    EXPECT_EQ(handle, 0u);
  }
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, nullptr), ZEM_ERROR_PARAMETER);
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_NO_EVENT);

  // Releasing or completing what is not a container.
  ZemContainerHandle bogus = 0x00500001;
  EXPECT_EQ(Zem_SendServiceComplete(&bogus), ZEM_ERROR_BAD_CONTAINER);
  EXPECT_EQ(Zem_ResponseReceived(&bogus), ZEM_ERROR_BAD_CONTAINER);
  EXPECT_EQ(Zem_InfoReceived(&bogus), ZEM_ERROR_BAD_CONTAINER);
  EXPECT_EQ(bogus, 0x00500001u) << "a refused release leaves the variable as it was";
  EXPECT_EQ(Zem_ResponseReceived(nullptr), ZEM_ERROR_BAD_CONTAINER);
  EXPECT_EQ(Zem_SendServiceComplete(nullptr), ZEM_ERROR_BAD_CONTAINER);

  // The boundary identifiers are accepted.
  for (uint32_t id : {1u, 1999999999u}) {
    EXPECT_EQ(Zem_RegisterProvider(id), ZEM_SUCCESS) << id;
    EXPECT_EQ(provider().providerId(), static_cast<int32_t>(id));
  }
  EXPECT_EQ(Zem_destroyDataContainer(completion), ZEM_SUCCESS);
}

TEST_F(ProviderTest, RegistrationsAndDeRegistrationsQueueTheirStatusEventsInOrder) {
  startSimulator();
  registerWith(77);
  EXPECT_TRUE(provider().serverConnected());

  // A second registration de-registers first: 24, then 23.
  ASSERT_EQ(Zem_RegisterProvider(78), ZEM_SUCCESS);
  EXPECT_EQ(sim().next("deregistered")["providerId"], 77);
  EXPECT_EQ(sim().next("registered")["providerId"], 78);
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
  EXPECT_EQ(provider().providerId(), 78);

  // De-registration: the status event stands behind the messages queued
  // before it; each poll destroys one of them, then the event comes out.
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 1}});
  sim().command({{"cmd", "send"}, {"type", "info"}, {"ref", 2}});
  ASSERT_TRUE(eventually([&] { return provider().queue().count() == 2; }));
  ASSERT_EQ(Zem_DeRegisterProvider(), ZEM_SUCCESS);
  const size_t live = containers_.table().liveCount();
  EXPECT_EQ(provider().providerId(), -1);
  EXPECT_FALSE(provider().serverConnected());
  EXPECT_FALSE(provider().hasMessagePump());
  EXPECT_TRUE(trace_.waitFor("clZemlink::deRegister_Provider() - Provider thread successfully terminated\n"));
  ZemContainerHandle handle = 0;
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_NO_EVENT);
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_NO_EVENT);
  EXPECT_EQ(containers_.table().liveCount(), live - 2) << "both messages were destroyed";
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_NO_EVENT);
  EXPECT_EQ(Zem_DeRegisterProvider(), ZEM_ERROR_NOT_REGISTERED);

  // The next registration starts a new pump.
  ASSERT_EQ(Zem_RegisterProvider(79), ZEM_SUCCESS);
  EXPECT_TRUE(provider().hasMessagePump());
  EXPECT_TRUE(trace_.waitFor("clZemlink::register_Provider() - Provider thread successfully created\n"));
  expectStatusEvent(ZEM_STATUS_REGISTERED);
}

TEST_F(ProviderTest, RebindingEmptiesTheQueueAndDeInitDeRegistersUnseen) {
  startSimulator();
  registerWith(5);
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 1}});
  ASSERT_TRUE(eventually([&] { return provider().queue().count() == 1; }));

  // A rebind keeps the registration and drops what was queued.
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  EXPECT_TRUE(trace_.waitFor("initializeComm: ( Re-init ) Delete all 1 msg's in the Queue\n"));
  ZemContainerHandle handle = 0;
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_NO_EVENT);
  EXPECT_EQ(provider().providerId(), 5);
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 2}});
  Event request = poll();
  ASSERT_EQ(request.result, ZEM_SUCCESS);
  EXPECT_EQ(Zem_getServerID(request.handle), 2);
  EXPECT_EQ(Zem_ResponseReceived(&request.handle), ZEM_SUCCESS);

  // ZemlinkDeInit de-registers, then empties the queue: the status event 24
  // never reaches the application.
  ASSERT_EQ(ZemlinkDeInit(), ZEM_SUCCESS);
  EXPECT_EQ(sim().next("deregistered")["providerId"], 5);
  EXPECT_TRUE(trace_.waitFor("deInitializeComm: Deregister the provider 5\n"));
  EXPECT_FALSE(provider().initialized());
  EXPECT_EQ(provider().providerId(), -1);
  EXPECT_EQ(provider().queue().count(), 0);
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_ERROR_NOT_READY);
  EXPECT_EQ(Zem_RegisterProvider(5), ZEM_ERROR_NOT_READY);
  EXPECT_EQ(ZemlinkDeInit(), ZEM_SUCCESS) << "a second one has nothing to do";

  // Bound again, the same identifier registers at once.
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  ASSERT_EQ(Zem_RegisterProvider(5), ZEM_SUCCESS);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
}

TEST_F(ProviderTest, ThePortComesFromZemlinkIniInTheCurrentDirectory) {
  struct Case {
    const char* file;  // null: no file
    const char* binding;
  };
  const Case cases[] = {
      {nullptr, "ncacn_ip_tcp:127.0.0.1[1550]"},
      {"[RPC]\nPORT=1560\n", "ncacn_ip_tcp:127.0.0.1[1560]"},
      {"; the server\n[ rpc ]\n  port =  1561\n", "ncacn_ip_tcp:127.0.0.1[1561]"},
      {"[Other]\nPORT=1\n[RPC]\nHOST=x\n", "ncacn_ip_tcp:127.0.0.1[1550]"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove("zemlink.ini");
    if (c.file != nullptr) std::ofstream("zemlink.ini") << c.file;
    EXPECT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS) << (c.file ? c.file : "(none)");
    EXPECT_EQ(provider().bindingText(), c.binding);
  }
  // A port text that is not a number from 1 to 65535 fails the binding at
  // once and leaves none, rather than a binding that no call can use.
  for (const char* port : {"notaport", "0", "65536", "", "15 50"}) {
    std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << port << "\n";
    EXPECT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_ERROR_CONNECT) << "\"" << port << "\"";
    EXPECT_EQ(provider().bindingText(), "");
  }
  EXPECT_TRUE(provider().initialized()) << "a failed rebind keeps the earlier state";
  EXPECT_EQ(Zem_RegisterProvider(3), ZEM_ERROR_CONNECT);
}

TEST_F(ProviderTest, AnEmptyAddressBindsToTheLocalMachine) {
  startSimulator();
  ASSERT_EQ(ZemlinkInit(0, nullptr, ""), ZEM_SUCCESS);
  EXPECT_EQ(provider().bindingText(), "ncacn_ip_tcp:[" + std::to_string(sim().port()) + "]");
  EXPECT_EQ(Zem_RegisterProvider(4), ZEM_SUCCESS);
  EXPECT_EQ(sim().next("registered")["providerId"], 4);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
}

TEST_F(ProviderTest, ServerRefusalsAndFailuresOfRegistration) {
  startSimulator();
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);

  // Refused, raised: 14, nothing registered, no event.
  sim().command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"result", 1004}});
  EXPECT_EQ(Zem_RegisterProvider(9), ZEM_ERROR_CONNECT);
  EXPECT_TRUE(trace_.waitFor("registerProvider Exception Return\n"));
  sim().command({{"cmd", "fail"}, {"proc", "registerProvider"}, {"action", "drop"}});
  EXPECT_EQ(Zem_RegisterProvider(9), ZEM_ERROR_CONNECT);
  EXPECT_EQ(provider().providerId(), -1);
  ZemContainerHandle handle = 0;
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_NO_EVENT);

  // A refused de-registration: 30, and the provider counts as not
  // registered all the same; no event.
  registerWith(9);
  sim().command({{"cmd", "fail"}, {"proc", "deRegisterProvider"}, {"result", 1003}});
  EXPECT_EQ(Zem_DeRegisterProvider(), ZEM_ERROR_SERVER);
  EXPECT_TRUE(trace_.waitFor("deRegisterProvider Exception Return\n"));
  EXPECT_EQ(provider().providerId(), -1);
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &handle), ZEM_NO_EVENT);

  // A registration whose de-registration step fails ends not registered.
  registerWith(10);
  sim().command({{"cmd", "fail"}, {"proc", "deRegisterProvider"}, {"action", "fault"}});
  EXPECT_EQ(Zem_RegisterProvider(11), ZEM_ERROR_SERVER);
  EXPECT_EQ(provider().providerId(), -1);
  EXPECT_EQ(Zem_RegisterProvider(11), ZEM_SUCCESS) << "the next one registers at once";
  expectStatusEvent(ZEM_STATUS_REGISTERED);
}

TEST_F(ProviderTest, AStatusEventThatCannotBeMadeGives28) {
  startSimulator();
  ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
  zem::armFailPoint(zem::FailPoint::Allocation);
  EXPECT_EQ(Zem_RegisterProvider(12), ZEM_ERROR_NO_MEMORY);
  zem::disarmFailPoints();
  EXPECT_FALSE(sim().next("registered").is_null()) << "the server registration stands";
  EXPECT_EQ(provider().providerId(), -1);
  EXPECT_FALSE(provider().serverConnected());
}

}  // namespace
}  // namespace zem::test
