#include "playback_engine.h"

#include <mpv/client.h>

namespace zv::player {

PlaybackEngine::PlaybackEngine() {
  handle_ = mpv_create();
  if (!handle_) return;
  // Sound only, on one ALSA device kept open from song to song; nothing of the
  // user's own mpv setup, terminal or keyboard takes part.
  for (const auto& [name, value] : {std::pair{"config", "no"}, {"terminal", "no"}, {"input-default-bindings", "no"},
                                    {"load-scripts", "no"}, {"ytdl", "no"}, {"vid", "no"}, {"audio-display", "no"},
                                    {"idle", "yes"}, {"gapless-audio", "yes"}, {"prefetch-playlist", "yes"},
                                    {"ao", "alsa"}, {"audio-fallback-to-null", "no"}}) {
    mpv_set_option_string(handle_, name, value);
  }
  if (mpv_initialize(handle_) < 0) {
    mpv_terminate_destroy(handle_);
    handle_ = nullptr;
    return;
  }
  // Each song waits to load until its start has been followed here, so a
  // device chosen at its start is the one its first sound goes to.
  mpv_hook_add(handle_, 0, "on_load", 0);
}

PlaybackEngine::~PlaybackEngine() {
  if (handle_) mpv_terminate_destroy(handle_);
}

std::optional<std::int64_t> PlaybackEngine::append(const std::string& path, const SongCue& cue) {
  const std::string options = "start=" + std::to_string(cue.start_at_s);
  const char* command[] = {"loadfile", path.c_str(), "append-play", options.c_str(), nullptr};
  mpv_node result{};
  if (mpv_command_ret(handle_, command, &result) < 0) return std::nullopt;
  std::optional<std::int64_t> entry;
  if (result.format == MPV_FORMAT_NODE_MAP) {
    for (int i = 0; i < result.u.list->num; ++i) {
      if (std::string_view(result.u.list->keys[i]) == "playlist_entry_id") entry = result.u.list->values[i].u.int64;
    }
  }
  mpv_free_node_contents(&result);
  return entry;
}

void PlaybackEngine::skip() {
  const char* command[] = {"playlist-next", "force", nullptr};
  mpv_command(handle_, command);
}

void PlaybackEngine::remove(std::int64_t entry) {
  std::int64_t count = 0;
  mpv_get_property(handle_, "playlist-count", MPV_FORMAT_INT64, &count);
  for (std::int64_t i = 0; i < count; ++i) {
    std::int64_t id = 0;
    const std::string property = "playlist/" + std::to_string(i) + "/id";
    if (mpv_get_property(handle_, property.c_str(), MPV_FORMAT_INT64, &id) < 0 || id != entry) continue;
    const std::string index = std::to_string(i);
    const char* command[] = {"playlist-remove", index.c_str(), nullptr};
    mpv_command(handle_, command);
    return;
  }
}

void PlaybackEngine::use_device(const std::string& alsa_name) {
  mpv_set_property_string(handle_, "audio-device", ("alsa/" + alsa_name).c_str());
}

void PlaybackEngine::clear() {
  const char* command[] = {"stop", nullptr};
  mpv_command(handle_, command);
}

std::optional<EngineEvent> PlaybackEngine::next_event(double timeout_s) {
  const mpv_event* event = mpv_wait_event(handle_, timeout_s);
  if (event->event_id == MPV_EVENT_NONE) return std::nullopt;
  EngineEvent seen;
  if (event->event_id == MPV_EVENT_HOOK) {
    mpv_hook_continue(handle_, static_cast<const mpv_event_hook*>(event->data)->id);
  } else if (event->event_id == MPV_EVENT_START_FILE) {
    seen.kind = EngineEvent::Kind::started;
    seen.entry = static_cast<const mpv_event_start_file*>(event->data)->playlist_entry_id;
  } else if (event->event_id == MPV_EVENT_END_FILE) {
    const auto* end = static_cast<const mpv_event_end_file*>(event->data);
    seen.entry = end->playlist_entry_id;
    // A song skipped ends as one played out does.
    if (end->reason == MPV_END_FILE_REASON_EOF || end->reason == MPV_END_FILE_REASON_STOP) {
      seen.kind = EngineEvent::Kind::finished;
    } else if (end->reason == MPV_END_FILE_REASON_ERROR) {
      seen.kind = end->error == MPV_ERROR_AO_INIT_FAILED ? EngineEvent::Kind::device_failed : EngineEvent::Kind::failed;
      seen.error = mpv_error_string(end->error);
    }
  }
  return seen;
}

double PlaybackEngine::position() const {
  double seconds = 0;
  mpv_get_property(handle_, "time-pos", MPV_FORMAT_DOUBLE, &seconds);
  return seconds;
}

std::optional<double> PlaybackEngine::length() const {
  double seconds = 0;
  if (mpv_get_property(handle_, "duration", MPV_FORMAT_DOUBLE, &seconds) < 0) return std::nullopt;
  return seconds;
}

}  // namespace zv::player
