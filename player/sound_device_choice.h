#pragma once
// The sound device chosen on the station's device page: the second line of
// sound_device.txt in the server folder, an ALSA device name.

#include <filesystem>
#include <string>

namespace zv::player {

inline constexpr const char* SOUND_DEVICE_FILE = "sound_device.txt";
inline constexpr const char* SYSTEM_DEFAULT_DEVICE = "default";

// The ALSA name to play on as `choice_file` says now. A missing file, or a
// choice of the system default, gives `system_default`.
std::string chosen_sound_device(const std::filesystem::path& choice_file, const std::string& system_default);

// Whether the machine has a sound card at all (ALSA lists one in `cards`).
bool has_sound_card(const std::filesystem::path& cards = "/proc/asound/cards");

}  // namespace zv::player
