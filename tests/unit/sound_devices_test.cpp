#include "hostinfo/sound_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/form_fields.h"
#include "text/encoding.h"

namespace zv {
namespace {

using test::FormField;
using test::form_fields;

struct FakeDevice {
  std::optional<GuidBytes> guid;  // none: the primary driver
  std::u16string description;
  std::u16string module_name;
};

// What the fake enumeration reports; the enumerator is a plain function, so it
// reads this list.
std::vector<FakeDevice> fake_devices;
int fake_result = 0;

int fake_enumerate(SoundDeviceCallback callback, void* context) {
  for (const FakeDevice& device : fake_devices)
    if (!callback(device.guid ? device.guid->data() : nullptr, device.description.c_str(),
                  device.module_name.c_str(), context))
      break;
  return fake_result;
}

// A GUID as its four fields, laid out in memory as the platform does.
GuidBytes guid_of(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3, std::uint64_t data4) {
  GuidBytes bytes{};
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<unsigned char>(data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<unsigned char>(data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) bytes[8 + i] = static_cast<unsigned char>(data4 >> (8 * (7 - i)));
  return bytes;
}

GuidBytes numbered_guid(unsigned n) { return guid_of(n, 0, 0, 0); }

std::vector<FormField> device_fields(SoundDeviceEnumerator enumerate_devices) {
  FormBody body;
  EXPECT_EQ(list_sound_devices(body, enumerate_devices), 1);
  return form_fields(std::string(body.data(), body.length()));
}

void expect_slot(const std::vector<FormField>& fields, unsigned slot, const std::string& guid,
                 const std::string& description, const std::string& module_name) {
  const std::string i = std::to_string(slot);
  ASSERT_GE(fields.size(), 3 * slot + 3);
  EXPECT_EQ(fields[3 * slot], (FormField{"guid[" + i + "]", guid}));
  EXPECT_EQ(fields[3 * slot + 1], (FormField{"desc[" + i + "]", description}));
  EXPECT_EQ(fields[3 * slot + 2], (FormField{"drvname[" + i + "]", module_name}));
}

const std::string ZERO_HEX(32, '0');

class SoundDeviceListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_devices.clear();
    fake_result = 0;
  }
};

TEST_F(SoundDeviceListTest, PrimaryDriverSkippedAndDevicesFillSlotsInOrder) {
  fake_devices = {{std::nullopt, u"Primary", u""},
                  {guid_of(0x6B29FC40, 0xCA47, 0x1067, 0xB31D00DD010662DA), u"Speakers & Headphones", u"hw:0,0"},
                  {numbered_guid(2), u"Café ж", u"surround51"}};

  const auto fields = device_fields(fake_enumerate);

  ASSERT_EQ(fields.size(), 60u);
  expect_slot(fields, 0, "40fc296b47ca6710b31d00dd010662da", "Speakers & Headphones", "hw:0,0");
  expect_slot(fields, 1, "02000000000000000000000000000000", "Café ж", "surround51");
  for (unsigned slot = 2; slot < 20; ++slot) expect_slot(fields, slot, ZERO_HEX, "", "");
}

TEST_F(SoundDeviceListTest, TextsGoOutEncodedAndEmptySlotsReadExactly) {
  fake_devices = {{std::nullopt, u"Primary", u""}, {numbered_guid(1), u"A & B=C", u"x y"}};

  FormBody body;
  list_sound_devices(body, fake_enumerate);
  const std::string raw(body.data(), body.length());

  EXPECT_EQ(raw.rfind("guid[0]=01000000000000000000000000000000&desc[0]=A+%26+B%3DC&drvname[0]=x+y&", 0), 0u);
  EXPECT_NE(raw.find("&guid[2]=" + ZERO_HEX + "&desc[2]=&drvname[2]=&guid[3]="), std::string::npos);
  EXPECT_EQ(raw.substr(raw.size() - 66), "&guid[19]=" + ZERO_HEX + "&desc[19]=&drvname[19]=&");
}

TEST_F(SoundDeviceListTest, OnlyTheFirstTwentyAreKept) {
  fake_devices.push_back({std::nullopt, u"Primary", u""});
  for (unsigned n = 1; n <= 25; ++n)
    fake_devices.push_back({numbered_guid(n), u"Device " + std::u16string(1, u'A' + n), u"m"});

  SoundDeviceList list;
  list.enumerate(fake_enumerate);
  EXPECT_EQ(list.count(), 20u);

  const auto fields = device_fields(fake_enumerate);
  ASSERT_EQ(fields.size(), 60u);
  expect_slot(fields, 19, "14000000000000000000000000000000", std::string("Device ") + char('A' + 20), "m");
}

TEST_F(SoundDeviceListTest, FailingOrEmptyEnumerationGivesTwentyZeroSlots) {
  fake_devices = {{std::nullopt, u"Primary", u""}};
  for (const int result : {0, -1}) {
    fake_result = result;
    const auto fields = device_fields(fake_enumerate);
    ASSERT_EQ(fields.size(), 60u);
    for (unsigned slot = 0; slot < 20; ++slot) expect_slot(fields, slot, ZERO_HEX, "", "");
  }
}

TEST_F(SoundDeviceListTest, SlotsBeyondTheListAndEmptyTextsReadEmpty) {
  SoundDeviceList list;
  const GuidBytes guid = numbered_guid(7);
  EXPECT_TRUE(device_enum_callback(nullptr, u"Primary", u"p", &list));
  EXPECT_TRUE(device_enum_callback(guid.data(), u"", nullptr, &list));

  EXPECT_EQ(list.count(), 1u);
  EXPECT_EQ(list.guid(0), guid);
  EXPECT_EQ(std::u16string(list.description(0)), u"");
  EXPECT_EQ(std::u16string(list.module_name(0)), u"");
  EXPECT_EQ(list.guid(1), GuidBytes{});
  EXPECT_EQ(list.guid(20), GuidBytes{});
  EXPECT_EQ(list.guid(4000000000u), GuidBytes{});
  EXPECT_EQ(std::u16string(list.description(20)), u"");
  EXPECT_EQ(std::u16string(list.module_name(20)), u"");
}

#ifndef _WIN32
// The platform's enumeration against an ALSA configuration of the test's own.
class AlsaSoundDevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    config_ = std::filesystem::temp_directory_path() / ("zv-alsa-" + std::to_string(seed()) + ".conf");
    std::ofstream(config_) << R"(pcm.!default { type null hint { show on description "Station default" } }
pcm.speakers { type null hint { show on description "Speakers & Headphones
Front" } }
pcm.mic { type null hint { show on description "Microphone|IOIDInput" } }
pcm.studio { type null hint { show on description "Studio out|IOIDOutput" } }
pcm.quiet { type null }
pcm.empty { type null hint { show on } }
namehint.pcm { card "front:CARD=Studio,DEV=0|Studio card|IOIDOutput" }
)";
    const char* old = std::getenv("ALSA_CONFIG_PATH");
    if (old) old_config_ = old;
    setenv("ALSA_CONFIG_PATH", config_.c_str(), 1);
  }
  void TearDown() override {
    if (old_config_)
      setenv("ALSA_CONFIG_PATH", old_config_->c_str(), 1);
    else
      unsetenv("ALSA_CONFIG_PATH");
    std::filesystem::remove(config_);
  }

  struct Reported {
    std::optional<GuidBytes> guid;
    std::u16string description;
    std::u16string module_name;
  };

  static bool collect(const unsigned char* guid, const char16_t* description, const char16_t* module_name,
                      void* context) {
    std::optional<GuidBytes> bytes;
    if (guid) {
      bytes.emplace();
      std::copy(guid, guid + 16, bytes->begin());
    }
    static_cast<std::vector<Reported>*>(context)->push_back({bytes, description, module_name});
    return true;
  }

  std::filesystem::path config_;
  std::optional<std::string> old_config_;
};

TEST_F(AlsaSoundDevicesTest, PlaybackDevicesAfterThePrimaryWithStableNameGuids) {
  std::vector<Reported> devices;
  ASSERT_EQ(enumerate_sound_devices(collect, &devices), 0);

  // Cards' devices come right after the primary, software devices after them;
  // a machine with sound cards of its own has more of the former.
  ASSERT_GE(devices.size(), 5u);
  EXPECT_FALSE(devices[0].guid);
  EXPECT_EQ(devices[0].module_name, u"default");
  EXPECT_EQ(devices[0].description, u"Station default");
  EXPECT_EQ(devices[1].module_name, u"front:CARD=Studio,DEV=0");
  EXPECT_EQ(devices[1].description, u"Studio card");
  const std::size_t software = devices.size() - 3;
  EXPECT_EQ(devices[software].module_name, u"speakers");
  EXPECT_EQ(devices[software].description, u"Speakers & Headphones - Front");
  EXPECT_EQ(devices[software + 1].module_name, u"studio");
  EXPECT_EQ(devices[software + 1].description, u"Studio out");
  EXPECT_EQ(devices[software + 2].module_name, u"empty");
  EXPECT_EQ(devices[software + 2].description, u"");
  for (const Reported& device : devices) EXPECT_NE(device.module_name, u"mic") << "capture-only";
  for (const Reported& device : devices) EXPECT_NE(device.module_name, u"quiet") << "not shown";

  // The GUID comes from the name alone, so a stored choice survives a restart.
  ASSERT_TRUE(devices[software].guid && devices[software + 1].guid);
  EXPECT_NE(*devices[software].guid, *devices[software + 1].guid);
  std::vector<Reported> again;
  enumerate_sound_devices(collect, &again);
  ASSERT_EQ(again.size(), devices.size());
  EXPECT_EQ(again[software].guid, devices[software].guid);
}

TEST_F(AlsaSoundDevicesTest, GuidOfANameNeverChanges) {
  FormBody body;
  list_sound_devices(body);
  const auto fields = form_fields(std::string(body.data(), body.length()));
  ASSERT_EQ(fields.size(), 60u);

  const auto speakers = std::find_if(fields.begin(), fields.end(), [](const FormField& field) {
    return field.first.rfind("drvname[", 0) == 0 && field.second == "speakers";
  });
  ASSERT_NE(speakers, fields.end());
  // Pinned: stations store this value; it must read the same in every release.
  EXPECT_EQ(speakers[-2].second, "d70712426d2eb7568583aceda4daa954");
  EXPECT_EQ(speakers[-1].second, "Speakers & Headphones - Front");
}

#else
TEST(AlsaSoundDevicesTest, PlaybackDevicesAfterThePrimaryWithStableNameGuids) {
  GTEST_SKIP() << "ALSA is Linux's; on Windows the devices are DirectSound's (tests/windows)";
}
#endif

}  // namespace
}  // namespace zv
