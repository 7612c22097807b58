// station-player [--default-device ALSA_NAME]
//
// Runs in the station's server folder beside the server: opens the window
// "Zentavio Player" that the server hands songs to and the pages steer it
// through (docs/player-control.md), plays them on the device chosen in
// sound_device.txt and on the stream set in sound_settings.txt, goes on with
// the schedule of the hour it is when nothing was handed off, puts every play
// on record and counts every song played to its end in base2.mdb, publishes
// what is on air in onair.json and keeps what it holds in player_state.txt.
// --default-device names the ALSA device played on when the station chose
// the system's default; without it that is ALSA's "default" (as the user's
// .asoundrc sets it), or, on a machine without a sound card, the null
// output, which keeps real time and is heard nowhere but on the stream.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/console.h"
#include "platform/stop_request.h"
#include "platform/window_messages.h"
#include "playback_engine.h"
#include "player_control.h"
#include "player_window/protocol.h"
#include "sound_device_choice.h"
#include "station_player.h"

int main(int argc, char** argv) {
  zv::console_setup();
  std::string system_default;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--default-device") == 0 && i + 1 < argc && argv[i + 1][0] != 0) {
      system_default = argv[++i];
    } else {
      std::fprintf(stderr, "usage: station-player [--default-device ALSA_NAME]\n");
      return 2;
    }
  }
  zv::catch_stop_requests();
  if (system_default.empty()) {
    system_default = zv::player::SYSTEM_DEFAULT_DEVICE;
    // Without any sound card the station streams only; a card that fails is a fault, tried again.
    if (!zv::player::has_sound_card() && !zv::player::PlaybackEngine::device_opens(system_default)) {
      std::printf("Station player: there is no sound card; playing to the null output\n");
      system_default = zv::player::NULL_DEVICE;
    }
  }

  zv::player::PlaybackEngine engine;
  zv::player::StationPlayer player(std::filesystem::current_path(), system_default, engine);
  if (!player.ready()) {
    std::printf("Station player: the playback engine (GStreamer) cannot be started\n");
    return 1;
  }
  const zv::WindowHandle window = zv::create_window(zv::PLAYER_WINDOW_CAPTION, [&player](const zv::CopyData& message) {
    // Control messages carry UTF-8 text; a song's path comes as UTF-16. The
    // answer goes once what the message added is on the disk.
    if (zv::player::is_control_message(message.dw_data)) {
      const auto* bytes = static_cast<const char*>(message.data);
      player.receive({message.dw_data, bytes ? std::string(bytes, message.cb_data) : std::string()});
      return std::int64_t{1};
    }
    player.receive({message.dw_data, zv::copy_data_text(message)});
    return std::int64_t{1};
  });
  if (!window) {
    const std::string problem = zv::window_place_problem();
    if (problem.empty()) {
      std::printf("Station player: the window \"Zentavio Player\" is held by another program; ending\n");
    } else {
      std::printf("Station player: the window \"Zentavio Player\" cannot be opened: %s; ending\n", problem.c_str());
    }
    return 1;
  }
  player.set_window_address(zv::window_address(window));
  std::printf("Station player: window \"Zentavio Player\" open in %s\n",
              std::filesystem::current_path().string().c_str());
  // Woken by a message at once, else ten times a second for what the engine has told.
  while (!zv::stop_requested() && zv::pump_window_messages(window, 100)) player.step(0);
  zv::destroy_window(window);
  std::printf("Station player: stopped\n");
  return 0;
}
