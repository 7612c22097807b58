#include "hostinfo/sound_devices.h"

#include "text/encoding.h"

namespace zv {

namespace {

void append_slot_field(FormBody& body, const char* name, std::uint32_t slot) {
  body.append(name);
  body.append_char('[');
  body.append_int(static_cast<std::int32_t>(slot));
  body.append("]=");
}

}  // namespace

int list_sound_devices(FormBody& body, SoundDeviceEnumerator enumerate_devices) {
  SoundDeviceList devices;
  devices.enumerate(enumerate_devices);
  for (std::uint32_t slot = 0; slot < MAX_SOUND_DEVICES; ++slot) {
    append_slot_field(body, "guid", slot);
    for (const unsigned char byte : devices.guid(slot)) body.append_hex_byte(byte);
    body.append_char('&');
    append_slot_field(body, "desc", slot);
    body.append(form_encode(devices.description(slot), 0).c_str());
    body.append_char('&');
    append_slot_field(body, "drvname", slot);
    body.append(form_encode(devices.module_name(slot), 0).c_str());
    body.append_char('&');
  }
  return 1;
}

}  // namespace zv
