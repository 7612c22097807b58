// The connection lock: held by a thread until it ends, then passed on.

#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <string>
#include <thread>

namespace zv {
namespace {

// Whatever the platform reports, both count as acquired.
bool acquired(MutexWait wait) { return wait == MutexWait::signalled || wait == MutexWait::abandoned; }

std::u16string fresh_name() {
  const std::string digits = std::to_string(std::random_device{}());
  return u"zv_mutex_test_" + std::u16string(digits.begin(), digits.end());
}

TEST(ConnectionLock, HeldUntilTheHoldingThreadEndsThenPassedToTheNextWaiter) {
  const std::u16string name = fresh_name();
  // As the entry point does: one handle open for the whole time, so the named
  // lock lives on while connection threads close theirs.
  const MutexHandle kept_open = create_named_mutex(name.c_str());
  ASSERT_NE(kept_open, 0u);
  std::promise<void> holding, may_end;
  std::thread holder([&] {
    const MutexHandle mutex = create_named_mutex(name.c_str());
    EXPECT_TRUE(acquired(wait_for_mutex(mutex, 1000)));
    close_mutex(mutex);  // closing the handle keeps the lock
    holding.set_value();
    may_end.get_future().wait();
  });  // ends without releasing
  holding.get_future().wait();

  std::thread waiter([&] {
    const MutexHandle mutex = create_named_mutex(name.c_str());  // opens the same lock
    ASSERT_NE(mutex, 0u);
    EXPECT_EQ(wait_for_mutex(mutex, 50), MutexWait::timed_out);
    may_end.set_value();
    EXPECT_TRUE(acquired(wait_for_mutex(mutex, 10000)));
    close_mutex(mutex);
  });
  waiter.join();
  holder.join();
  close_mutex(kept_open);
}

TEST(ConnectionLock, NoMutexIsAFailedWait) { EXPECT_EQ(wait_for_mutex(0, 10), MutexWait::failed); }

}  // namespace
}  // namespace zv
