// Destroying a port inside one of its own deliveries is a programming error
// that no sync method can survive: the program must end at once and say
// what was done wrong, never hang or run on in a destroyed object.
#include <gtest/gtest.h>

#include <memory>

#include "port_on_line.h"

namespace cport::testing {
namespace {

class DestroyInDelivery : public ::testing::TestWithParam<TSyncMethod> {};

// Opens a port whose received-data handler destroys it, feeds it a byte and
// runs the message loop, which the program never leaves.
void DestroyFromTheHandler(TSyncMethod sync) {
  platform::Application app;
  device::MemoryLine line(LineNameForTest() + "-child");
  auto port = std::make_unique<TComPort>();
  port->SetPort(line.Name());
  port->SetSyncMethod(sync);
  port->SetOnRxChar([&port](TCustomComPort&, std::int32_t) { port.reset(); });
  port->OpenPort();
  line.Inject("a");
  app.Run();
}

TEST_P(DestroyInDelivery, EndsTheProgramWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(DestroyFromTheHandler(GetParam()),
               "a port was destroyed inside one of its own event deliveries");
}

INSTANTIATE_TEST_SUITE_P(Dispatch, DestroyInDelivery,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), [](const auto& p) {
                           switch (p.param) {
                             case smThreadSync:
                               return std::string("ThreadSync");
                             case smWindowSync:
                               return std::string("WindowSync");
                             case smNone:
                               break;
                           }
                           return std::string("None");
                         });

}  // namespace
}  // namespace cport::testing
