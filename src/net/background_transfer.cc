#include "net/background_transfer.h"

#include <system_error>
#include <utility>

namespace vm {

BackgroundTransfer::BackgroundTransfer(HttpClient http, HttpRequest request)
    : http_(std::move(http)), request_(std::move(request)) {
  auto callerProgress = std::move(request_.progress);
  request_.progress = [this, callerProgress](long long received) {
    received_.store(received, std::memory_order_relaxed);
    if (abandoned_.load(std::memory_order_relaxed)) return false;
    return !callerProgress || callerProgress(received);
  };
}

Result<std::unique_ptr<BackgroundTransfer>> BackgroundTransfer::start(const HttpClient& http,
                                                                      HttpRequest request) {
  std::unique_ptr<BackgroundTransfer> transfer(new BackgroundTransfer(http, std::move(request)));
  try {
    transfer->worker_ = std::thread(&BackgroundTransfer::run, transfer.get());
  } catch (const std::system_error& error) {
    return fail(std::string("cannot start the transfer thread: ") + error.what(),
                error.code().value());
  }
  return transfer;
}

BackgroundTransfer::~BackgroundTransfer() {
  abandoned_.store(true, std::memory_order_relaxed);
  if (worker_.joinable()) worker_.join();
}

void BackgroundTransfer::run() {
  result_ = http_.perform(request_);
  // The release store publishes result_ to the thread that sees the new state.
  state_.store(result_.ok ? State::Finished : State::Failed, std::memory_order_release);
}

}  // namespace vm
