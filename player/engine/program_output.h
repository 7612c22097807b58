#pragma once
// One GStreamer pipeline the program is fed into from the engine's thread:
// the sound card's or a stream's. Feeding never waits: what the pipeline
// cannot take is reported by its level, and its faults by poll(). Starting
// and closing a pipeline can wait on a device or a server, so both happen on
// a thread of their own and never hold up the engine.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _GstElement GstElement;
typedef struct _GstBuffer GstBuffer;

namespace zv::player {

class ProgramOutput : public std::enable_shared_from_this<ProgramOutput> {
 public:
  enum class State { starting, playing, failed };

  // `after_source`: the pipeline after the program's source, in gst-launch
  // form; `rate`: the program's; `max_seconds`: how much it may hold before it drops the newest.
  // `need_seconds` > 0: `need` is called when it holds less than that.
  // `real_time`: its threads run ahead of ordinary work (a sound card's).
  static std::shared_ptr<ProgramOutput> make(const std::string& after_source, int rate, double max_seconds,
                                             double need_seconds = 0, std::function<void()> need = {},
                                             bool real_time = false);
  // One that takes the program already encoded (`caps`, as gst-launch
  // writes them), holding up to `max_bytes`.
  static std::shared_ptr<ProgramOutput> make_encoded(const std::string& caps, const std::string& after_source,
                                                     std::size_t max_bytes);
  ~ProgramOutput();
  ProgramOutput(const ProgramOutput&) = delete;
  ProgramOutput& operator=(const ProgramOutput&) = delete;

  // The pipeline's element `name`, to set its properties before start (owned by the pipeline).
  GstElement* element(const char* name) const;
  // Starts playing in the background; `done` is called once it plays or has failed.
  void start(std::function<void()> done);
  State state() const { return state_; }
  // Whether the pipeline has reached PLAYING (a sink that has begun to play).
  bool playing() const;
  void push(const float* frames, std::size_t count);
  // Sends `buffer` (taken) on as it is.
  void push_encoded(GstBuffer* buffer);
  // Of a pipeline that ends in "appsink name=encoded": all it has made since
  // the last call, in one buffer (null: nothing), so the sender is woken once for it.
  GstBuffer* take_encoded();
  // The program into it ends: it makes what it holds and then its end.
  void end();
  // Whether everything it made has been taken, its end included.
  bool encoded_all() const;
  // Seconds of program pushed and not yet taken by the pipeline.
  double queued_seconds() const;
  // Frames pushed since the output was made.
  std::uint64_t pushed() const { return pushed_; }
  // A fault since the last call, if any.
  std::optional<std::string> poll();
  // Ends the pipeline on a thread of its own: a device stuck in a write
  // holds up whoever stops it. `drain`: it plays out what it holds first.
  static void close(std::shared_ptr<ProgramOutput> output, bool drain = false);

 private:
  explicit ProgramOutput(int rate) : rate_(rate) {}
  double bytes_per_second() const;

  GstElement* pipeline_ = nullptr;
  GstElement* source_ = nullptr;
  GstElement* encoded_ = nullptr;
  int rate_;
  std::uint64_t pushed_ = 0;  // frames of program pushed
  std::atomic<State> state_{State::starting};
  std::string start_error_;  // why it failed to start; read once the state says failed
  std::function<void()> need_;
};

}  // namespace zv::player
