// The program's top-level window and the GLib main context that drives it.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vm {

// Runs one pass of the GLib main context. With mayBlock it sleeps in the
// context's poll until something is due or wakeEventLoop() is called, so an
// idle window costs no CPU.
void runEventLoopPass(bool mayBlock);
// Makes a blocked runEventLoopPass() return.
void wakeEventLoop();
// Runs the GLib main context (waiting in its poll, never spinning) until
// done() answers true or timeoutMs milliseconds have passed. Everything due
// meanwhile is dispatched as usual: windows paint, a close request is seen.
// True when done() ended the wait.
bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs);

struct WindowGeometry {
  int left = 0;
  int top = 0;
  int width = 0;   // inner (client) size
  int height = 0;
};

class TopWindow {
 public:
  struct Events {
    std::function<void(int width, int height)> size;  // inner size changed
    std::function<void(int left, int top)> move;      // outer position changed
    std::function<void()> closeRequest;               // the window stays open
  };

  // Shown at once at (left, top) with the inner size given, not centred, with
  // a minimum inner size and without a maximise function.
  static std::unique_ptr<TopWindow> create(const std::string& title, const WindowGeometry& geometry,
                                           int minWidth, int minHeight, Events events);
  ~TopWindow();
  TopWindow(const TopWindow&) = delete;
  TopWindow& operator=(const TopWindow&) = delete;

  WindowGeometry geometry() const;
  // Brings the window to the front and gives it the keyboard focus (restored
  // when minimised). activationToken is a launcher's startup id or Wayland
  // activation token that allows it; empty when there is none.
  void present(const std::string& activationToken);

 private:
  struct Impl;
  // The toolkit's window, for the rest of the platform layer only
  // (top_window_native.h).
  friend struct TopWindowNative;
  explicit TopWindow(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vm
