#include "platform/block_narration.h"
#include "platform/console.h"
#include "platform/narration_batch.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace zv {
namespace {

// A batch larger than this goes out at once, so a long gathering neither
// holds much memory nor keeps the console waiting long.
constexpr std::size_t BATCH_LIMIT = 1 << 16;

thread_local int t_batches = 0;
thread_local int t_quiet = 0;
thread_local std::string t_batch;

void write_out(const char* text, std::size_t length) {
  std::fwrite(text, 1, length, stdout);
  if (!narration_is_blocked()) std::fflush(stdout);  // an import's lines go out in blocks
}

}  // namespace

NarrationBatch::NarrationBatch() { ++t_batches; }

NarrationBatch::~NarrationBatch() {
  if (--t_batches == 0) flush_narration();
}

QuietNarration::QuietNarration() { ++t_quiet; }

QuietNarration::~QuietNarration() { --t_quiet; }

void flush_narration() {
  if (t_batch.empty()) return;
  write_out(t_batch.data(), t_batch.size());
  t_batch.clear();
}

void narrate(const char* format, ...) {
  if (t_quiet > 0) return;
  thread_local std::string message;
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  if (message.size() < 256) message.resize(256);
  const int length = std::vsnprintf(message.data(), message.size(), format, arguments);
  va_end(arguments);
  if (length >= 0 && static_cast<std::size_t>(length) >= message.size()) {
    message.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(message.data(), message.size(), format, again);
  }
  va_end(again);
  if (length <= 0) return;
  // A block buffer already gathers an import's lines: the batch goes first,
  // so the order holds.
  if (t_batches > 0 && !narration_is_blocked()) {
    t_batch.append(message.data(), static_cast<std::size_t>(length));
    if (t_batch.size() >= BATCH_LIMIT) flush_narration();
    return;
  }
  flush_narration();
  write_out(message.data(), static_cast<std::size_t>(length));
}

}  // namespace zv
