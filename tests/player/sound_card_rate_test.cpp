// The rate a sound card plays without ALSA converting, which the program is made at.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/sound_devices.h"
#include "support/server_harness.h"

namespace zv {
namespace {

TEST(SoundCardRate, IsTheCardsOwnRatePreferringTheOpusRate) {
  testing::TempDir folder;
  const auto config = folder.path() / "asound.conf";
  // Cards that play one rate only, behind ALSA's converting plug, and one that plays any.
  std::ofstream(config) << "pcm.only44 { type plug slave { pcm { type null } rate 44100 format S16_LE channels 2 } }\n"
                           "pcm.only32 { type plug slave { pcm { type null } rate 32000 format S16_LE channels 2 } }\n"
                           "pcm.any { type null }\n";
  ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  EXPECT_EQ(sound_device_native_rate("only44"), 44100);
  EXPECT_EQ(sound_device_native_rate("only32"), 32000);
  EXPECT_EQ(sound_device_native_rate("any"), 48000);
  EXPECT_EQ(sound_device_native_rate("missing"), 0);
  ::unsetenv("ALSA_CONFIG_PATH");
}

}  // namespace
}  // namespace zv
