#include "hostinfo/sound_device_list.h"

#include <algorithm>

namespace zv {

namespace {

constexpr GuidBytes ZERO_GUID{};

// Empty and missing texts both leave the slot without a text.
std::optional<std::u16string> stored_text(const char16_t* text) {
  if (!text || !*text) return std::nullopt;
  return std::u16string(text);
}

}  // namespace

void SoundDeviceList::enumerate(SoundDeviceEnumerator enumerate_devices) {
  enumerate_devices(device_enum_callback, this);
}

void SoundDeviceList::add_device(const unsigned char* guid, const char16_t* description,
                                 const char16_t* module_name) {
  if (!guid || count_ >= MAX_SOUND_DEVICES) return;
  descriptions_[count_] = stored_text(description);
  module_names_[count_] = stored_text(module_name);
  std::copy(guid, guid + guids_[count_].size(), guids_[count_].begin());
  ++count_;
}

const GuidBytes& SoundDeviceList::guid(std::uint32_t slot) const {
  return slot < MAX_SOUND_DEVICES ? guids_[slot] : ZERO_GUID;
}

const char16_t* SoundDeviceList::description(std::uint32_t slot) const {
  return slot < MAX_SOUND_DEVICES && descriptions_[slot] ? descriptions_[slot]->c_str() : u"";
}

const char16_t* SoundDeviceList::module_name(std::uint32_t slot) const {
  return slot < MAX_SOUND_DEVICES && module_names_[slot] ? module_names_[slot]->c_str() : u"";
}

bool device_enum_callback(const unsigned char* guid, const char16_t* description, const char16_t* module_name,
                          void* context) {
  static_cast<SoundDeviceList*>(context)->add_device(guid, description, module_name);
  return true;
}

}  // namespace zv
