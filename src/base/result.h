// How a failure travels inside the client. A function that can fail returns
// Result<T> (its value, or a Failure with a message) or Status when it has
// no value. The exact texts that a page, the log or a message box shows are
// made by the caller at that edge, from the failure's message and code.
#pragma once

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace vm {

struct Failure {
  std::string message;
  int code = 0;  // errno, a libcurl code or another number the caller acts on
};

inline Failure fail(std::string message, int code = 0) { return {std::move(message), code}; }

// what + ": " + the text of errno, with errno as the code. Call it right
// after the failing call, before anything else can change errno.
inline Failure failFromErrno(const std::string& what) {
  const int error = errno;
  return {what + ": " + std::strerror(error), error};
}

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  // Anything that converts to T, so that `return "text";` works for a Result<std::string>.
  template <class U>
    requires(std::is_convertible_v<U &&, T> && !std::is_same_v<std::decay_t<U>, T> &&
             !std::is_same_v<std::decay_t<U>, Failure>)
  Result(U&& value) : state_(std::in_place_index<0>, T(std::forward<U>(value))) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

  const Failure& failure() const { return std::get<1>(state_); }
  const std::string& message() const { return failure().message; }

 private:
  std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failure_(std::move(failure)) {}

  bool ok() const { return !failure_; }
  explicit operator bool() const { return ok(); }
  const Failure& failure() const { return *failure_; }
  const std::string& message() const { return failure_->message; }

 private:
  std::optional<Failure> failure_;
};

using Status = Result<void>;

}  // namespace vm
