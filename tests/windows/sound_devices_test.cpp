// DirectSound's device list as the server reads it.

#include "platform/sound_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zv {
namespace {

struct Reported {
  bool has_guid;
  std::u16string description;
};

bool collect(const unsigned char* guid, const char16_t* description, const char16_t*, void* context) {
  static_cast<std::vector<Reported>*>(context)->push_back({guid != nullptr, description});
  return true;
}

bool stop_at_first(const unsigned char*, const char16_t*, const char16_t*, void* context) {
  ++*static_cast<int*>(context);
  return false;
}

// A machine without sound output (as Wine on a build machine) reports none.
TEST(DirectSoundDevices, ThePrimaryDriverFirstWithoutGuidThenEachDeviceWithOne) {
  std::vector<Reported> devices;
  ASSERT_EQ(enumerate_sound_devices(collect, &devices), 0);
  for (std::size_t i = 0; i < devices.size(); ++i) EXPECT_EQ(devices[i].has_guid, i > 0) << i;

  int calls = 0;
  EXPECT_EQ(enumerate_sound_devices(stop_at_first, &calls), 0);
  EXPECT_EQ(calls, devices.empty() ? 0 : 1);
}

}  // namespace
}  // namespace zv
