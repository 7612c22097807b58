#include "platform/block_narration.h"

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

}  // namespace

BlockNarration::BlockNarration() {
  std::fflush(stdout);
  std::setvbuf(stdout, g_block_buffer, _IOFBF, sizeof g_block_buffer);
}

BlockNarration::~BlockNarration() {
  std::fflush(stdout);
  std::setvbuf(stdout, nullptr, CONSOLE_BUFFERING, 0);
}

}  // namespace zv
