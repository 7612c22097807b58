#include "platform/sound_devices.h"

#include <alsa/asoundlib.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/utf8_text.h"

// The sound output devices are ALSA's playback PCMs as its name hints list
// them. "default" stands for the primary sound driver and comes first without
// a GUID. The devices of sound cards follow, then the software devices, each
// group in ALSA's order: only 20 devices reach the page, and a machine has
// many software devices. Every device gets a GUID derived from its ALSA name,
// so the same device keeps the same GUID across restarts. Its ALSA name is its
// module name: that is what a player opens.

namespace zv {
namespace {

// Namespace of the name-based device GUIDs; changing it changes every GUID a
// station may have stored.
constexpr uuid_t DEVICE_GUID_NAMESPACE = {0x5a, 0x77, 0xe9, 0x68, 0x51, 0x62, 0x4a, 0x05,
                                          0xbc, 0xc3, 0x2c, 0xcf, 0x2f, 0xa1, 0xa8, 0x29};
constexpr const char* PRIMARY_DEVICE = "default";

struct PcmDevice {
  std::string name;
  std::string description;
};

// An owned string from snd_device_name_get_hint.
struct Hint {
  explicit Hint(char* text) : text(text) {}
  ~Hint() { std::free(text); }
  Hint(const Hint&) = delete;
  Hint& operator=(const Hint&) = delete;
  char* text;
};

// ALSA describes a card's device on two lines (card, then device); one line
// reads better in a list of devices.
std::string one_line(const char* description) {
  std::string line;
  for (const char* c = description; *c; ++c) {
    if (*c == '\n')
      line += " - ";
    else
      line += *c;
  }
  return line;
}

// Playback-capable PCMs in ALSA's order; IOID is absent for devices that do both.
bool playback_devices(std::vector<PcmDevice>& devices) {
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) return false;
  for (void** hint = hints; *hint; ++hint) {
    const Hint name(snd_device_name_get_hint(*hint, "NAME"));
    const Hint description(snd_device_name_get_hint(*hint, "DESC"));
    const Hint ioid(snd_device_name_get_hint(*hint, "IOID"));
    if (!name.text || (ioid.text && std::strcmp(ioid.text, "Output") != 0)) continue;
    devices.push_back({name.text, description.text ? one_line(description.text) : std::string()});
  }
  snd_device_name_free_hint(hints);
  return true;
}

// A UUID is written big-endian; a GUID in memory keeps its first three fields
// little-endian.
void device_guid(const std::string& name, unsigned char guid[16]) {
  uuid_t uuid;
  uuid_generate_sha1(uuid, DEVICE_GUID_NAMESPACE, name.data(), name.size());
  const unsigned char order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) guid[i] = uuid[order[i]];
}

bool report(SoundDeviceCallback callback, void* context, const unsigned char* guid, const PcmDevice& device) {
  const std::u16string description = wide_from_utf8(device.description.c_str());
  const std::u16string module_name = wide_from_utf8(device.name.c_str());
  return callback(guid, description.c_str(), module_name.c_str(), context);
}

}  // namespace

int enumerate_sound_devices(SoundDeviceCallback callback, void* context) {
  std::vector<PcmDevice> devices;
  if (!playback_devices(devices)) return -1;

  PcmDevice primary{PRIMARY_DEVICE, ""};
  for (const PcmDevice& device : devices)
    if (device.name == PRIMARY_DEVICE) primary = device;
  if (!report(callback, context, nullptr, primary)) return 0;

  std::stable_partition(devices.begin(), devices.end(),
                        [](const PcmDevice& device) { return device.name.find("CARD=") != std::string::npos; });

  for (const PcmDevice& device : devices) {
    if (device.name == PRIMARY_DEVICE) continue;
    unsigned char guid[16];
    device_guid(device.name, guid);
    if (!report(callback, context, guid, device)) return 0;
  }
  return 0;
}

int sound_device_native_rate(const char* name) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, name, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return 0;
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_malloc(&params);
  int rate = 0;
  // With ALSA's own conversion off, only the rates the device plays remain.
  if (params && snd_pcm_hw_params_any(pcm, params) >= 0 && snd_pcm_hw_params_set_rate_resample(pcm, params, 0) >= 0) {
    for (const unsigned preferred : {48000u, 44100u}) {
      if (!rate && snd_pcm_hw_params_test_rate(pcm, params, preferred, 0) == 0) rate = static_cast<int>(preferred);
    }
    unsigned nearest = 48000;
    if (!rate && snd_pcm_hw_params_set_rate_near(pcm, params, &nearest, nullptr) >= 0) rate = static_cast<int>(nearest);
  }
  if (params) snd_pcm_hw_params_free(params);
  snd_pcm_close(pcm);
  return rate;
}

}  // namespace zv
