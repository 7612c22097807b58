#pragma once
// One stream server as an output: the program encoded (MP3 or Ogg Opus) and
// sent to an Icecast mount, connected in the background and again every 5 s
// after a fault, with the title of the song on air. The encoder and the
// sender are pipelines of their own: what the encoder made is sent in one
// piece each time the program comes, and on the Ogg mount each song is a
// stream of its own within it (chained), with its ARTIST and TITLE comments,
// on the same connection.

#include <memory>
#include <string>

#include "engine_wake.h"
#include "output.h"
#include "program_output.h"

typedef struct _GstElement GstElement;

namespace zv::player {

struct StreamTarget {
  std::string host;
  int port = 8000;
  std::string mount;     // "/stream.mp3"
  std::string password;  // the source password
  bool opus = false;     // Ogg Opus; MP3 otherwise
  int kbps = 128;
  // What the station calls itself, sent to listeners as icy-name, icy-description, icy-genre and icy-url.
  std::string name{}, description{}, genre{}, url{};
  bool operator==(const StreamTarget&) const = default;
};

// What encodes the program for `target`, after the program's source: its
// pages end in an appsink named "encoded".
std::string stream_encoder(const StreamTarget& target);

class StreamOutput : public Output {
 public:
  // `rate`: the program's.
  StreamOutput(StreamTarget target, std::shared_ptr<EngineWake> wake, int rate);
  ~StreamOutput() override;

  const StreamTarget& target() const { return target_; }
  // The title listeners see from now on: "Artist - Title" for MP3, the
  // artist and title as they are for Ogg.
  void set_title(const std::string& title, const std::string& artist = {}, const std::string& song = {});
  void push(const float* frames, std::size_t count) override;
  void follow(EngineClock::time_point now, std::vector<EngineEvent>& told) override;
  bool carries() const override { return up_; }
  EngineClock::time_point next_follow(EngineClock::time_point now) const override;

 private:
  void fail(const std::string& why, EngineClock::time_point now, std::vector<EngineEvent>& told);
  void start_encoder();
  void send_encoded();
  std::string address() const;

  StreamTarget target_;
  std::shared_ptr<EngineWake> wake_;
  int rate_;
  std::shared_ptr<ProgramOutput> pipeline_;  // the sender
  std::shared_ptr<ProgramOutput> encoder_;
  std::shared_ptr<ProgramOutput> finishing_;  // the song before's Ogg stream, making its last pages
  EngineClock::time_point started_{}, retry_at_{};
  bool up_ = false, down_told_ = false;
  std::string title_, title_sent_, artist_, song_;
  GstElement* title_request_ = nullptr;
};

}  // namespace zv::player
