#include "platform/worker.h"

#include <glib.h>

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "base/log.h"

namespace vm {

namespace {

struct Job {
  std::function<void()> work;
  std::function<void()> done;
  std::thread thread;
};

// On the main thread, once the worker has finished: the thread ends for
// good before done runs, so done may free what the work used.
gboolean finishJob(gpointer data) {
  std::unique_ptr<Job> job(static_cast<Job*>(data));
  job->thread.join();
  if (job->done) job->done();
  return G_SOURCE_REMOVE;
}

}  // namespace

void runOnWorkerThen(std::function<void()> work, std::function<void()> done) {
  auto job = std::make_unique<Job>();
  job->work = std::move(work);
  job->done = std::move(done);
  Job* raw = job.get();
  try {
    raw->thread = std::thread([raw] {
      raw->work();
      // Thread-safe: attaches an idle source to the default main context
      // and wakes it.
      g_idle_add_full(G_PRIORITY_DEFAULT, finishJob, raw, nullptr);
    });
  } catch (const std::system_error& error) {
    writeLog(std::string("ERROR: No worker thread (") + error.what() + "); waiting here");
    raw->work();
    if (raw->done) raw->done();
    return;
  }
  job.release();  // finishJob owns it now
}

void runOnWorkerAndWait(const std::function<void()>& work) {
  std::atomic<bool> finished{false};
  std::thread thread;
  try {
    thread = std::thread([&] {
      work();
      finished.store(true, std::memory_order_release);
      g_main_context_wakeup(nullptr);
    });
  } catch (const std::system_error& error) {
    writeLog(std::string("ERROR: No worker thread (") + error.what() + "); waiting here");
    work();
    return;
  }
  while (!finished.load(std::memory_order_acquire)) g_main_context_iteration(nullptr, TRUE);
  thread.join();
}

}  // namespace vm
