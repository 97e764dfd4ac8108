#include "rpc/string_binding.h"

#include <gtest/gtest.h>

namespace {

TEST(StringBinding, ParsesHostAndPort) {
  rpc::StringBinding binding;
  ASSERT_TRUE(rpc::StringBinding::parse("ncacn_ip_tcp:127.0.0.1[1550]", binding).isOk());
  EXPECT_EQ(binding.host, "127.0.0.1");
  EXPECT_EQ(binding.port, 1550);
  ASSERT_TRUE(rpc::StringBinding::parse("ncacn_ip_tcp:exchange.example[65535]", binding).isOk());
  EXPECT_EQ(binding.host, "exchange.example");
  EXPECT_EQ(binding.toString(), "ncacn_ip_tcp:exchange.example[65535]");
  EXPECT_EQ(binding.connectHost(), "exchange.example");
  // No network address: the local machine.
  ASSERT_TRUE(rpc::StringBinding::parse("ncacn_ip_tcp:[1550]", binding).isOk());
  EXPECT_EQ(binding.host, "");
  EXPECT_EQ(binding.connectHost(), "127.0.0.1");
  EXPECT_EQ(binding.toString(), "ncacn_ip_tcp:[1550]");
}

TEST(StringBinding, RefusesWhatItCannotUse) {
  const char* bad[] = {
      "ncacn_np:host[1550]", "ncacn_ip_tcp:[]", "ncacn_ip_tcp:host", "ncacn_ip_tcp:host[]",
      "ncacn_ip_tcp:host[0]", "ncacn_ip_tcp:host[65536]", "ncacn_ip_tcp:host[15a0]", "ncacn_ip_tcp:host[1550",
      "ncacn_ip_tcp:host[1550,opt]", "",
  };
  for (const char* text : bad) {
    rpc::StringBinding binding;
    const rpc::Status status = rpc::StringBinding::parse(text, binding);
    EXPECT_EQ(status.code(), rpc::StatusCode::InvalidBinding) << text;
  }
}

}  // namespace
