#pragma once
// The player in this process on its real library, song facts and files, with
// a stand-in for the engine that plays on the test's word: a song starts as
// soon as it is given and ends when the test says (or at once, `instant`), so
// what the player does with the queue, the record and the faults is seen in
// milliseconds.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "playback.h"
#include "player_state.h"
#include "player_window/protocol.h"
#include "station_player.h"
#include "support/library_fixture.h"

#include <fcntl.h>
#include <unistd.h>

namespace zv::player::test {

class FakePlayback final : public Playback {
 public:
  struct Given {
    std::int64_t entry = 0;
    std::string path;
    SongCue cue;
  };

  bool ready() const override { return true; }
  std::optional<std::int64_t> append(const std::string& path, const SongCue& cue) override {
    songs_.push_back({++last_entry_, path, cue});
    given.push_back(songs_.back());
    return last_entry_;
  }
  void skip() override {
    if (on_air_) end_song();
  }
  void remove(std::int64_t entry) override {
    std::erase_if(songs_, [&](const Given& song) { return song.entry == entry && !(on_air_ && &song == &songs_[0]); });
  }
  void clear() override {
    songs_.clear();
    on_air_ = false;
  }
  void use_device(const std::string& alsa_name) override { devices.push_back({alsa_name, given.size()}); }
  bool device_failing() const override { return failing_; }
  void set_crossfade(double seconds) override { crossfade = seconds; }
  void set_streams(const std::vector<StreamTarget>&) override {}
  std::optional<EngineEvent> next_event(double timeout_s) override {
    if (events_.empty() && !failing_ && !songs_.empty() && !on_air_) {
      on_air_ = true;
      position_s = 0;
      events_.push_back(event(EngineEvent::Kind::started, songs_.front().entry));
      if (instant) end_song();
    }
    if (events_.empty()) {
      // Waits as the engine would, leaving the processor to the player's other threads.
      std::this_thread::sleep_for(std::chrono::duration<double>(timeout_s));
      return std::nullopt;
    }
    EngineEvent event = events_.front();
    events_.pop_front();
    return event;
  }
  double position() const override { return position_s; }
  std::optional<double> length() const override { return std::nullopt; }

  // The song on air plays to its end (finished) or cannot be played (failed).
  void end_song() { end_with(EngineEvent::Kind::finished, ""); }
  void fail_song(const std::string& error) { end_with(EngineEvent::Kind::failed, error); }
  // The card stops with nothing else to carry the program: the songs given wait.
  void fail_device(const std::string& error) {
    failing_ = true;
    on_air_ = false;
    events_.push_back(event(EngineEvent::Kind::device_failed, 0, error));
    events_.push_back(event(EngineEvent::Kind::held, songs_.empty() ? 0 : songs_.front().entry));
  }
  void device_back() {
    failing_ = false;
    events_.push_back(event(EngineEvent::Kind::device_back));
  }
  const std::string* on_air() const { return on_air_ ? &songs_.front().path : nullptr; }

  bool instant = true;
  double position_s = 0;
  double crossfade = 0;
  std::vector<Given> given;                                  // every song given, in order
  std::vector<std::pair<std::string, std::size_t>> devices;  // each device chosen, before the song given as which

 private:
  static EngineEvent event(EngineEvent::Kind kind, std::int64_t entry = 0, std::string error = "") {
    EngineEvent told;
    told.kind = kind;
    told.entry = entry;
    told.error = std::move(error);
    return told;
  }
  void end_with(EngineEvent::Kind kind, const std::string& error) {
    if (songs_.empty()) return;
    events_.push_back(event(kind, songs_.front().entry, error));
    songs_.pop_front();
    on_air_ = false;
  }

  std::deque<Given> songs_;
  std::deque<EngineEvent> events_;
  std::int64_t last_entry_ = 0;
  bool on_air_ = false;
  bool failing_ = false;
};

// A library with songs 1 to 3 (a.wav, b.wav, c.wav: 1 s tones) in folder 1,
// and the station's settings with no crossfade and no stream.
class StationFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // The player's pauses (5 s before the schedule is drawn again, 2 s between
    // publications ...) a fiftieth as long; read once, before the player starts.
    ::setenv("ZV_TEST_LIMIT_DIVISOR", "50", 0);
    ASSERT_TRUE(library.made());
    write("sound_settings.txt", "crossfade_s=0\nstream_on=0\n");
    library.sql("insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '" + library.path().string() +
                "/');");
    for (int id = 1; id <= 3; ++id) add_song(id, 1, std::string(1, static_cast<char>('a' + id - 1)) + ".wav");
    // What the player prints goes to a file the test reads while it runs.
    std::fflush(stdout);
    saved_stdout_ = ::dup(1);
    const int printed = ::open(printed_file().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(printed, 0);
    ::dup2(printed, 1);
    ::close(printed);
  }
  void TearDown() override {
    // What the player printed shows a failure's cause (and the failure itself, printed meanwhile).
    if (HasFailure()) std::fprintf(stderr, "%s", console().c_str());
    console();
  }

  // Makes `name` (`seconds` of a tone) as song `id` of `folder`.
  void add_song(int id, int folder, const std::string& name, double seconds = 1) {
    make_tone(name, seconds);
    library.sql("insert into song (song_id, song_dir_id, song_name) values (" + std::to_string(id) + ", " +
                std::to_string(folder) + ", '" + path(name) + "');");
  }
  void make_tone(const std::string& name, double seconds, const std::string& effects = "") {
    const std::string command = "sox -n -r 44100 -c 2 '" + path(name) + "' synth " + std::to_string(seconds) +
                                " sine 440 vol 0.5 " + effects + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(library.path() / (name + ".new")) << text;
    std::filesystem::rename(library.path() / (name + ".new"), library.path() / name);
  }
  std::string path(const std::string& name) const { return (library.path() / name).string(); }
  void start() {
    player.emplace(library.path(), NULL_DEVICE, engine);
    ASSERT_TRUE(player->ready());
  }
  void send(const std::string& name) { player->receive({COPYDATA_LIST_ITEM, path(name)}); }
  void control(std::uint64_t message, const std::string& data = "") { player->receive({message, data}); }
  // Steps the player until `done` holds; false when it did not within 2 min
  // (under ThreadSanitizer each song's measuring takes seconds).
  bool run_until(const std::function<bool()>& done) {
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
         std::chrono::steady_clock::now() < until;) {
      player->step(0.01);
      if (done()) return true;
    }
    return false;
  }
  bool on_air(const std::string& name) {
    return run_until([&] { return engine.on_air() && *engine.on_air() == path(name); });
  }
  // The play record, oldest first: "name|source|outcome" a line.
  std::string record() const {
    return library.sql("select song_name, source, outcome from play_record order by started, play_id;");
  }
  bool recorded(std::size_t plays) {
    return run_until([&] {
      const std::string rows = library.sql("select count(*) from play_record;");
      return !rows.empty() && std::stoul(rows) >= plays;
    });
  }
  std::string onair_json() const {
    std::ifstream in(library.path() / ONAIR_FILE);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // The key onair.json gives the waiting song `name`.
  std::string key_of(const std::string& name) const {
    std::smatch found;
    const std::string onair = onair_json();
    const std::regex key("\"name\":\"" + name + "\",\"source\":\"[a-z]+\",\"key\":([0-9]+)");
    return std::regex_search(onair, found, key) ? found[1].str() : "";
  }
  // What the player has printed so far, while it runs.
  std::string printed() const {
    std::fflush(stdout);
    std::ifstream in(printed_file());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static std::size_t times(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }
  // Steps the player until it has printed `line` `count` times.
  bool run_until_said(const std::string& line, std::size_t count = 1) {
    return run_until([&] { return times(printed(), line) >= count; });
  }
  // What the player printed; ends the player (and its threads' printing) and the capture.
  const std::string& console() {
    if (!console_) {
      player.reset();
      console_ = printed();
      if (saved_stdout_ >= 0) {
        ::dup2(saved_stdout_, 1);
        ::close(saved_stdout_);
        saved_stdout_ = -1;
      }
    }
    return *console_;
  }
  bool said(const std::string& line) { return console().find(line + "\n") != std::string::npos; }

  zv::test::LibraryFolder library;
  FakePlayback engine;
  std::optional<StationPlayer> player;

 private:
  std::filesystem::path printed_file() const { return library.path() / "printed.txt"; }

  std::optional<std::string> console_;
  int saved_stdout_ = -1;
};

}  // namespace zv::player::test
