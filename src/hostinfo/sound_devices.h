#pragma once
// The machine's sound output devices, written into the form body as 20 slots
// of guid[i], desc[i] and drvname[i].

#include "hostinfo/sound_device_list.h"
#include "text/text_buffer.h"

namespace zv {

// Always writes all 20 slots (60 fields); empty slots carry the zero GUID and
// empty texts. Descriptions and module names are percent-encoded, so a device
// such as "Speakers & Headphones" reaches the script whole. Returns 1.
int list_sound_devices(FormBody& body, SoundDeviceEnumerator enumerate_devices = enumerate_sound_devices);

}  // namespace zv
