// Moving the phone link to another port: the new port is bound before the
// old server goes, so a taken port leaves the old one serving.

#include "core/listen_port.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/net/test_phone.h"
#include "tests/support/free_port.h"

namespace lumora {
namespace {

enum class Current { None, Running, Stopped };
enum class Target { Same, Free, Taken };

TEST(MoveServerToPortTest, BindsTheNewPortBeforeTheOldServerGoes) {
  const struct {
    const char* what;
    Current current;
    Target target;
    PortMove want;
  } cases[] = {
      {"first start", Current::None, Target::Free, PortMove::Moved},
      {"first start on a taken port", Current::None, Target::Taken, PortMove::Taken},
      {"the port it serves", Current::Running, Target::Same, PortMove::AlreadyThere},
      {"a free port", Current::Running, Target::Free, PortMove::Moved},
      {"a taken port", Current::Running, Target::Taken, PortMove::Taken},
      {"a server that stopped, its own port again", Current::Stopped, Target::Same, PortMove::Moved},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const testing::HeldPort holder;
    ASSERT_TRUE(holder.held());
    const unsigned old_port = testing::FreePort();
    std::unique_ptr<ParlinoServer> server;
    if (c.current != Current::None) {
      server = std::make_unique<ParlinoServer>();
      ASSERT_TRUE(server->Start(old_port, {}));
      if (c.current == Current::Stopped) {
        server->Stop();
      }
    }
    const ParlinoServer* before = server.get();
    const unsigned port = c.target == Target::Same
                              ? old_port
                              : (c.target == Target::Taken ? holder.port() : testing::FreePort());

    int made = 0;
    EXPECT_EQ(MoveServerToPort(server, port,
                               [&] {
                                 ++made;
                                 return ServerCallbacks{};
                               }),
              c.want);

    if (c.want == PortMove::Moved) {
      ASSERT_NE(server, nullptr);
      EXPECT_EQ(made, 1);
      EXPECT_TRUE(server->IsRunning());
      testing::TestPhone phone;
      EXPECT_TRUE(phone.Handshake(port)) << "nothing greets on the new port";
      if (c.current == Current::Running && port != old_port) {
        testing::TestPhone late;
        EXPECT_FALSE(late.Connect(old_port)) << "the old server still listens";
      }
    } else {
      // Exactly as it was: the same object, serving where it served.
      EXPECT_EQ(server.get(), before);
      if (c.current == Current::Running) {
        EXPECT_TRUE(server->IsRunning());
        testing::TestPhone phone;
        EXPECT_TRUE(phone.Handshake(old_port)) << "the old server stopped serving";
      }
    }
  }
}

}  // namespace
}  // namespace lumora
