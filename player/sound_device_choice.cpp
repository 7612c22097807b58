#include "sound_device_choice.h"

#include <fstream>

namespace zv::player {

std::string chosen_sound_device(const std::filesystem::path& choice_file, const std::string& system_default) {
  std::ifstream in(choice_file);
  std::string guid, name;
  if (!std::getline(in, guid) || !std::getline(in, name)) return system_default;
  if (!name.empty() && name.back() == '\r') name.pop_back();
  return name.empty() || name == SYSTEM_DEFAULT_DEVICE ? system_default : name;
}

bool has_sound_card(const std::filesystem::path& cards) {
  // Each card is a line " 0 [PCH ]: ..."; without one ALSA writes "--- no soundcards ---".
  std::ifstream in(cards);
  std::string first;
  return in >> first && !first.empty() && first[0] >= '0' && first[0] <= '9';
}

}  // namespace zv::player
