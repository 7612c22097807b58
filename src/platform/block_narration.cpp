#include "platform/block_narration.h"

#include <atomic>
#include <cstdio>

namespace zv {
namespace {

// The buffering console_setup leaves standard output with.
#ifdef _WIN32
constexpr int CONSOLE_BUFFERING = _IONBF;
#else
constexpr int CONSOLE_BUFFERING = _IOLBF;
#endif

char g_block_buffer[1 << 16];
std::atomic<int> g_blocks{0};

}  // namespace

BlockNarration::BlockNarration() {
  std::fflush(stdout);
  std::setvbuf(stdout, g_block_buffer, _IOFBF, sizeof g_block_buffer);
  ++g_blocks;
}

BlockNarration::~BlockNarration() {
  --g_blocks;
  std::fflush(stdout);
  std::setvbuf(stdout, nullptr, CONSOLE_BUFFERING, 0);
}

bool narration_is_blocked() { return g_blocks > 0; }

}  // namespace zv
