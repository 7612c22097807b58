#include "platform/sound_devices.h"

#include <windows.h>

// The sound headers build on windows.h, the wave formats first.
#include <mmreg.h>
#include <mmsystem.h>

#include <dsound.h>

namespace zv {
namespace {
struct Enumeration {
  SoundDeviceCallback callback;
  void* context;
};

BOOL CALLBACK report_device(LPGUID guid, LPCWSTR description, LPCWSTR module_name, LPVOID start) {
  auto* enumeration = static_cast<Enumeration*>(start);
  static const wchar_t none[] = L"";
  return enumeration->callback(reinterpret_cast<const unsigned char*>(guid),
                               reinterpret_cast<const char16_t*>(description ? description : none),
                               reinterpret_cast<const char16_t*>(module_name ? module_name : none),
                               enumeration->context)
             ? TRUE
             : FALSE;
}
}  // namespace

int enumerate_sound_devices(SoundDeviceCallback callback, void* context) {
  Enumeration enumeration{callback, context};
  return static_cast<int>(DirectSoundEnumerateW(report_device, &enumeration));
}

// DirectSound converts to the device's own rate by itself.
int sound_device_native_rate(const char*) { return 0; }

}  // namespace zv
