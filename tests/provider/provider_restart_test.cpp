// The provider across a restart of the server on the same port: the loss
// becomes one error event, and the first registration afterwards works.
#include "provider_fixture.h"

namespace zem::test {
namespace {

TEST_F(ProviderTest, TheFirstRegistrationAfterAServerRestartSucceeds) {
  startSimulator({"--hold-ms", "200"});
  registerWith(70);
  // Traffic first, so that the association holds pooled connections that
  // the restart leaves dead.
  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 1}});
  Event request = poll();
  ASSERT_EQ(request.result, ZEM_SUCCESS);
  ZemContainerHandle completion = Zem_createDataContainer();
  Zem_setServerID(completion, Zem_getServerID(request.handle));
  ASSERT_EQ(Zem_SendServiceComplete(&completion), ZEM_SUCCESS);
  Zem_ResponseReceived(&completion);
  Zem_ResponseReceived(&request.handle);
  ASSERT_EQ(sim().next("completion")["ref"], 1);

  restartSimulator({"--hold-ms", "200"});
  expectErrorEvent();
  EXPECT_EQ(poll(300).result, ZEM_NO_EVENT) << "one error event for the loss";
  ASSERT_EQ(Zem_RegisterProvider(70), ZEM_SUCCESS);
  // The old registration ended with the server; the new server knows only
  // the new one.
  expectStatusEvent(ZEM_STATUS_DEREGISTERED);
  expectStatusEvent(ZEM_STATUS_REGISTERED);
  EXPECT_EQ(sim().next("registered")["providerId"], 70);

  sim().command({{"cmd", "send"}, {"type", "request"}, {"ref", 2}});
  request = poll();
  ASSERT_EQ(request.result, ZEM_SUCCESS);
  EXPECT_EQ(Zem_getServerID(request.handle), 2);
  completion = Zem_createDataContainer();
  Zem_setServerID(completion, 2);
  EXPECT_EQ(Zem_SendServiceComplete(&completion), ZEM_SUCCESS);
  Zem_ResponseReceived(&completion);
  Zem_ResponseReceived(&request.handle);
  EXPECT_EQ(sim().next("completion")["ref"], 2);
}

}  // namespace
}  // namespace zem::test
