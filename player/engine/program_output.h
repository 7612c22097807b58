#pragma once
// Where the program goes: a GStreamer pipeline fed from the engine's thread,
// the sound device's or one stream's. Feeding never waits: what an output
// cannot take is reported by its level, and its faults by poll().

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

typedef struct _GstElement GstElement;

namespace zv::player {

class ProgramOutput {
 public:
  // `after_source`: the pipeline after the program's source, in
  // gst-launch form; `max_seconds`: how much it may hold before it drops.
  ProgramOutput(const std::string& after_source, double max_seconds);
  ~ProgramOutput();
  ProgramOutput(const ProgramOutput&) = delete;
  ProgramOutput& operator=(const ProgramOutput&) = delete;

  // The pipeline's element `name`, to set its properties (owned by the pipeline).
  GstElement* element(const char* name) const;
  // Starts playing; false with error() when it cannot.
  bool start();
  // Whether it has started playing.
  bool playing() const;
  void push(const float* frames, std::size_t count);
  // Seconds of program pushed and not yet taken by the output.
  double queued_seconds() const;
  // Frames pushed since the output was made, what it opened with too.
  std::uint64_t pushed() const { return pushed_; }
  // A fault since the last call, if any.
  std::optional<std::string> poll();
  const std::string& error() const { return error_; }

 private:
  GstElement* pipeline_ = nullptr;
  GstElement* source_ = nullptr;
  std::uint64_t pushed_ = 0;  // frames of program pushed
  std::string error_;
};

}  // namespace zv::player
