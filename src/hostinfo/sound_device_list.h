#pragma once
// The sound output devices of one request, as the enumeration reports them:
// up to MAX_SOUND_DEVICES slots of GUID, description and module name.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/sound_devices.h"

namespace zv {

inline constexpr unsigned MAX_SOUND_DEVICES = 20;

using GuidBytes = std::array<unsigned char, 16>;  // memory order

class SoundDeviceList {
 public:
  SoundDeviceList() = default;

  // Runs the enumeration with device_enum_callback and this list as context;
  // its result is not used.
  void enumerate(SoundDeviceEnumerator enumerate_devices = enumerate_sound_devices);
  // Ignores the primary driver (null GUID) and any device past the 20th.
  void add_device(const unsigned char* guid, const char16_t* description, const char16_t* module_name);

  std::uint32_t count() const { return count_; }
  // Slots past the last one read as the zero GUID and empty texts.
  const GuidBytes& guid(std::uint32_t slot) const;
  const char16_t* description(std::uint32_t slot) const;
  const char16_t* module_name(std::uint32_t slot) const;

 private:
  std::array<GuidBytes, MAX_SOUND_DEVICES> guids_{};
  std::uint32_t count_ = 0;
  std::array<std::optional<std::u16string>, MAX_SOUND_DEVICES> descriptions_;
  std::array<std::optional<std::u16string>, MAX_SOUND_DEVICES> module_names_;
};

// The enumeration's callback: adds the device to the SoundDeviceList named by
// `context` and always goes on.
bool device_enum_callback(const unsigned char* guid, const char16_t* description, const char16_t* module_name,
                          void* context);

}  // namespace zv
