// The MP3 stream goes out at one rate whatever the card's: Icecast's
// fallback silence is at that rate, so a listener moved from the fallback
// to the program at a player's restart meets no change of rate.

#include <gtest/gtest.h>

#include <gst/gst.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "program_output.h"
#include "program_source.h"
#include "stream_output.h"

namespace zv::player {
namespace {

// The sample rate of the first MPEG-1 layer III frame in `bytes`; 0: none.
int first_frame_rate(const std::string& bytes) {
  for (std::size_t i = 0; i + 2 < bytes.size(); ++i) {
    const auto b = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    if (b(i) != 0xFF || (b(i + 1) & 0xFE) != 0xFA) continue;  // sync, MPEG-1, layer III
    const int index = (b(i + 2) >> 2) & 3;
    if (index < 3) return std::vector<int>{44100, 48000, 32000}[static_cast<std::size_t>(index)];
  }
  return 0;
}

TEST(StreamRate, TheMp3StreamOfA44kHzProgramIsAt48kHz) {
  StreamTarget target;
  target.mount = "/stream.mp3";
  auto encoder = ProgramOutput::make(stream_encoder(target), 44100, 2);
  encoder->start([] {});
  const std::vector<float> block(4410 * PROGRAM_CHANNELS, 0.0f);
  std::string encoded;
  for (int i = 0; i < 100 && first_frame_rate(encoded) == 0; ++i) {
    encoder->push(block.data(), block.size() / PROGRAM_CHANNELS);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (GstBuffer* pages = encoder->take_encoded()) {
      GstMapInfo map;
      if (gst_buffer_map(pages, &map, GST_MAP_READ)) {
        encoded.append(reinterpret_cast<const char*>(map.data), map.size);
        gst_buffer_unmap(pages, &map);
      }
      gst_buffer_unref(pages);
    }
  }
  EXPECT_EQ(first_frame_rate(encoded), 48000);
}

}  // namespace
}  // namespace zv::player
