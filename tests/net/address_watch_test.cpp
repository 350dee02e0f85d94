#include "net/address_watch.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

// Natively only: Wine 8 answers both of Windows' registrations with success
// and no handle, and never calls back (measured).
TEST(AddressWatchTest, WatchesOnThisPlatform) {
  AddressWatch watch([] {});
  EXPECT_TRUE(watch.watching());
}

}  // namespace
}  // namespace lumora
