#pragma once
// The machine's sound output devices, written into the form body as 20 slots
// of guid[i], desc[i] and drvname[i].

#include "text/text_buffer.h"

namespace zv {

inline constexpr unsigned MAX_SOUND_DEVICES = 20;

int list_sound_devices(FormBody& body);

}  // namespace zv
