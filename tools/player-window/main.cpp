// player-window [TITLE]
//
// Opens a window titled TITLE ("Zentavio Player" when omitted) and prints one
// line for every message it receives, until interrupted:
//
//   dwData=1001 cbData=42 sender=1234567 text=/srv/music/Pop/Song.mp3
//
// text is the data read as UTF-16 up to its first NUL, shown as UTF-8; a
// message without data shows "text=" and nothing after it.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/window_messages.h"
#include "player_window/protocol.h"
#include "text/encoding.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

}  // namespace

int main(int argc, char** argv) {
  std::u16string title = zv::PLAYER_WINDOW_CAPTION;
  if (argc > 1) {
    const auto given = zv::utf8_to_wide(argv[1], -1);
    if (!given || given->empty()) {
      std::fprintf(stderr, "player-window: the title must be a non-empty UTF-8 text\n");
      return 2;
    }
    title = *given;
  }
  const std::string shown = zv::wide_to_utf8(title.c_str(), -1).value_or(std::string());
  const zv::WindowHandle window = zv::create_window(title.c_str(), [](const zv::CopyData& message) {
    std::printf("dwData=%llu cbData=%lu sender=%llu text=%s\n", static_cast<unsigned long long>(message.dw_data),
                static_cast<unsigned long>(message.cb_data), static_cast<unsigned long long>(message.sender),
                zv::copy_data_text(message).c_str());
    std::fflush(stdout);  // one line per message, also into a file or pipe
    return std::int64_t{1};
  });
  if (!window) {
    std::fprintf(stderr, "player-window: cannot open a window titled \"%s\" (is one open already?)\n", shown.c_str());
    return 1;
  }
  std::signal(SIGINT, request_stop);
  std::signal(SIGTERM, request_stop);
  std::printf("Window \"%s\" open\n", shown.c_str());
  std::fflush(stdout);
  while (!stop_requested && zv::pump_window_messages(window, 200)) {
  }
  zv::destroy_window(window);
  return 0;
}
