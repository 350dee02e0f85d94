#include "net/address_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

namespace lumora {
namespace {

TEST(AddressWatchTest, NoCallOnceTheDestructorHasReturned) {
  // Changes are rare while the test runs; what this shows is that starting
  // and stopping in quick turns neither crashes nor races (under the
  // sanitizers), and that no watch calls once its destructor has returned,
  // by the end of all the later turns.
  struct Life {
    std::atomic<bool> over{false};
    std::atomic<int> calls{0};
    std::atomic<int> late_calls{0};
  };
  std::vector<std::shared_ptr<Life>> lives;
  for (int i = 0; i < 50; ++i) {
    auto life = std::make_shared<Life>();
    lives.push_back(life);
    bool watching = false;
    {
      AddressWatch watch([life] {
        life->calls.fetch_add(1);
        if (life->over.load()) {
          life->late_calls.fetch_add(1);
        }
      });
      watching = watch.watching();
    }
    life->over.store(true);
    if (!watching) {
      EXPECT_EQ(life->calls.load(), 0) << i;
    }
  }
  for (const std::shared_ptr<Life>& life : lives) {
    EXPECT_EQ(life->late_calls.load(), 0);
  }
}

TEST(AddressWatchTest, WatchesOnThisPlatform) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine 8 answers both registrations with success and no handle, and never calls back "
                  "(measured): shown natively";
#endif
  AddressWatch watch([] {});
  EXPECT_TRUE(watch.watching());
}

}  // namespace
}  // namespace lumora
