// Waiting off the main thread: work that blocks (network transfers, a
// started program, a socket that waits for a browser) runs on a thread of
// its own while the GLib main context keeps turning, so the windows paint,
// answer the compositor's ping and see their close requests.
//
// The work must not touch GTK, WebKit or the preferences file; what it
// needs of them is read before and used after, on the main thread.
#pragma once

#include <functional>

namespace vm {

// Runs work on a thread of its own, then done on the main thread (from the
// default GLib main context, once work has ended). When no thread can be
// made, both run here at once, so the caller never waits for nothing.
void runOnWorkerThen(std::function<void()> work, std::function<void()> done);

// Runs work on a thread of its own and turns the default GLib main context
// until it has ended; returns then. When no thread can be made, work runs
// here.
void runOnWorkerAndWait(const std::function<void()>& work);

}  // namespace vm
