#include "can/virtual_bus.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace busprobe {
namespace {

CanFrame Frame(uint32_t id, uint8_t first = 0) {
  CanFrame f;
  f.id = id;
  f.length = 1;
  f.data[0] = first;
  return f;
}

TEST(VirtualBus, EveryMemberReceivesEveryFrameTheSenderToo) {
  auto bus = VirtualBus::create();
  auto a = bus->join();
  auto b = bus->join();
  ASSERT_EQ(bus->memberCount(), 2u);

  ASSERT_TRUE(a->send(Frame(0x123, 7)));
  CanFrame got;
  for (auto* port : {a.get(), b.get()}) {
    ASSERT_TRUE(port->receive(got));
    EXPECT_EQ(got.id, 0x123u);
    EXPECT_EQ(got.data[0], 7);
    EXPECT_FALSE(port->receive(got));
  }

  b.reset();
  EXPECT_EQ(bus->memberCount(), 1u);
  bus->inject(Frame(0x7FF));
  ASSERT_TRUE(a->receive(got));
  EXPECT_EQ(got.id, 0x7FFu);
}

TEST(VirtualBus, PortOutlivingItsBusCannotSend) {
  auto bus = VirtualBus::create();
  auto port = bus->join();
  bus.reset();
  EXPECT_FALSE(port->send(Frame(1)));
}

TEST(VirtualBus, FullQueueDropsAndCountsOnlyTheOverflow) {
  auto bus = VirtualBus::create();
  auto slow = bus->join();
  const uint32_t capacity = slow->ring().capacity();
  for (uint32_t i = 0; i < capacity + 5; ++i) bus->inject(Frame(i & 0x7FF));
  EXPECT_EQ(slow->takeDropped(), 5u);
  EXPECT_EQ(slow->takeDropped(), 0u);
  // The oldest frames were kept, the newest lost.
  CanFrame got;
  ASSERT_TRUE(slow->receive(got));
  EXPECT_EQ(got.id, 0u);
}

TEST(VirtualBus, ErrorFramesCountPerBusForEveryMember) {
  auto bus = VirtualBus::create();
  auto a = bus->join();
  auto b = bus->join();
  bus->injectErrorFrame(1);
  bus->injectErrorFrame(1);
  bus->injectErrorFrame(0);
  bus->injectErrorFrame(7);  // no such bus: ignored
  for (auto* port : {a.get(), b.get()}) {
    EXPECT_EQ(port->errorFrames(0), 1u);
    EXPECT_EQ(port->errorFrames(1), 2u);
  }
  auto late = bus->join();
  EXPECT_EQ(late->errorFrames(1), 0u);
}

TEST(VirtualBusThreaded, ConcurrentSendersLoseNothingAndKeepTheirOrder) {
  auto bus = VirtualBus::create();
  auto reader = bus->join();
  constexpr int kPerSender = 5000;
  std::vector<std::thread> senders;
  for (uint32_t s = 0; s < 2; ++s) {
    senders.emplace_back([&bus, s] {
      auto port = bus->join();
      for (int i = 0; i < kPerSender; ++i) {
        CanFrame f = Frame(0x100 + s);
        f.timestamp = static_cast<uint32_t>(i);
        port->send(f);
      }
    });
  }
  int seen[2] = {0, 0};
  CanFrame got;
  while (seen[0] + seen[1] < 2 * kPerSender) {
    if (!reader->receive(got)) {
      std::this_thread::yield();
      continue;
    }
    const int s = static_cast<int>(got.id - 0x100);
    ASSERT_EQ(got.timestamp, static_cast<uint32_t>(seen[s]));
    ++seen[s];
  }
  for (auto& t : senders) t.join();
  EXPECT_EQ(reader->takeDropped(), 0u);
}

}  // namespace
}  // namespace busprobe
