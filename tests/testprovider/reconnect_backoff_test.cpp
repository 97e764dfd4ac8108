#include <gtest/gtest.h>

#include "testprovider/reconnect_backoff.h"

namespace rigbench::test {
namespace {

TEST(ReconnectBackoff, PausesDoubleFromOneSecondUpToTenAndStartOverAfterASuccess) {
  ReconnectBackoff backoff;
  std::vector<int> pauses;
  for (int i = 0; i < 6; ++i) pauses.push_back(backoff.next());
  EXPECT_EQ(pauses, (std::vector<int>{1000, 2000, 4000, 8000, 10000, 10000}));
  backoff.reset();
  EXPECT_EQ(backoff.next(), 1000);
}

}  // namespace
}  // namespace rigbench::test
