#include "platform/loop_lateness.h"

#include <glib.h>

#include <cstdio>
#include <memory>

namespace vm {

LoopLatenessRecorder::LoopLatenessRecorder(std::string path, int intervalMs)
    : path_(std::move(path)),
      intervalUs_(intervalMs * 1000LL),
      due_(g_get_monotonic_time() + intervalUs_) {
  source_ = g_timeout_add(static_cast<guint>(intervalMs),
                          [](gpointer self) -> gboolean { return fire(self); }, this);
}

int LoopLatenessRecorder::fire(void* self) {
  auto* recorder = static_cast<LoopLatenessRecorder*>(self);
  const long long now = g_get_monotonic_time();
  recorder->notes_.push_back({now, now > recorder->due_ ? now - recorder->due_ : 0});
  // GLib counts the next interval from this dispatch.
  recorder->due_ = now + recorder->intervalUs_;
  return G_SOURCE_CONTINUE;
}

LoopLatenessRecorder::~LoopLatenessRecorder() {
  if (source_) g_source_remove(source_);
  std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path_.c_str(), "w"), std::fclose);
  if (!out) return;
  for (const Note& note : notes_) std::fprintf(out.get(), "%lld %lld\n", note.at, note.late);
}

}  // namespace vm
