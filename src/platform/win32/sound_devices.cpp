#include "platform/sound_devices.h"

#include <windows.h>
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

}  // namespace zv
