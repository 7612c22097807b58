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

}  // namespace zv::player
