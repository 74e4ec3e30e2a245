// One HTTP transfer of the shared client on a worker thread of its own,
// while the caller's thread keeps its window alive and asks for the state.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "base/result.h"
#include "net/http_client.h"

namespace vm {

class BackgroundTransfer {
 public:
  enum class State { Running, Finished, Failed };

  // Starts request with a copy of http's settings (proxy, time limits,
  // trust). Fails only when no worker thread can be made.
  static Result<std::unique_ptr<BackgroundTransfer>> start(const HttpClient& http,
                                                           HttpRequest request);

  // Ending the transfer early aborts it at its next received block and waits
  // for the worker, so no thread outlives the object.
  ~BackgroundTransfer();
  BackgroundTransfer(const BackgroundTransfer&) = delete;
  BackgroundTransfer& operator=(const BackgroundTransfer&) = delete;

  State state() const { return state_.load(std::memory_order_acquire); }
  long long bytesReceived() const { return received_.load(std::memory_order_relaxed); }
  // The transfer's outcome; only meaningful once state() is not Running.
  const HttpResult& result() const { return result_; }

 private:
  BackgroundTransfer(HttpClient http, HttpRequest request);
  void run();

  HttpClient http_;
  HttpRequest request_;
  HttpResult result_;
  std::atomic<State> state_{State::Running};
  std::atomic<long long> received_{0};
  std::atomic<bool> abandoned_{false};
  std::thread worker_;
};

}  // namespace vm
