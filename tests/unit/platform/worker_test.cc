#include "platform/worker.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vm {
namespace {

// The work runs on another thread; its continuation on this one, from the
// main context, once the work has ended.
TEST(Worker, WorkOffThisThreadThenTheRestFromTheMainContext) {
  const std::thread::id here = std::this_thread::get_id();
  std::thread::id workedOn, finishedOn;
  bool done = false;
  runOnWorkerThen([&] { workedOn = std::this_thread::get_id(); },
                  [&] {
                    finishedOn = std::this_thread::get_id();
                    done = true;
                  });
  const gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
  while (!done && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, TRUE);
  ASSERT_TRUE(done);
  EXPECT_NE(workedOn, here);
  EXPECT_EQ(finishedOn, here);
}

// While the work waits, the main context keeps dispatching: a timeout due
// meanwhile fires before the wait returns.
TEST(Worker, TheMainContextTurnsWhileTheWorkWaits) {
  int ticks = 0;
  guint source = g_timeout_add(
      10,
      [](gpointer count) -> gboolean {
        ++*static_cast<int*>(count);
        return G_SOURCE_CONTINUE;
      },
      &ticks);
  std::atomic<bool> worked{false};
  runOnWorkerAndWait([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    worked = true;
  });
  g_source_remove(source);
  EXPECT_TRUE(worked);
  EXPECT_GE(ticks, 5);
}

}  // namespace
}  // namespace vm
