#pragma once
// DirectSoundEnumerateW: the machine's sound output devices, one by one in a
// fixed order, reported to a callback on the calling thread before the call
// returns.

namespace zv {

// LPDSENUMCALLBACKW. `guid` points at the device's 16 GUID bytes in memory
// order (Data1, Data2, Data3 little-endian, then Data4), or is null for the
// primary sound driver, which comes first. `description` and `module_name` are
// terminated UTF-16 (possibly empty). Returns true to go on.
using SoundDeviceCallback = bool (*)(const unsigned char* guid, const char16_t* description,
                                     const char16_t* module_name, void* context);

// DirectSoundEnumerateW(callback, context): 0 (DS_OK) on success, else a
// failure code.
int enumerate_sound_devices(SoundDeviceCallback callback, void* context);

using SoundDeviceEnumerator = int (*)(SoundDeviceCallback callback, void* context);

// The rate the output device `name` plays without converting it: 48000 where
// it can, else 44100, else its nearest; 0 when that cannot be told (it does
// not open now, or the platform converts by itself). Never waits on a busy device.
int sound_device_native_rate(const char* name);

}  // namespace zv
