#pragma once
// Top-level windows found by their title and WM_COPYDATA messages between
// them: how the server hands songs to the player program. On Windows these
// are real windows; elsewhere a window is an endpoint in a folder only its
// user can enter (docs/window-messages.md gives the protocol).

#include <cstdint>
#include <string>
#include <functional>
#include <string>

namespace zv {

using WindowHandle = std::uint64_t;  // HWND; 0 means "no window"

// What WM_COPYDATA carries: wParam and the COPYDATASTRUCT.
struct CopyData {
  WindowHandle sender = 0;      // wParam: the sending window
  std::uint64_t dw_data = 0;    // dwData
  std::uint32_t cb_data = 0;    // cbData
  const void* data = nullptr;   // lpData: cb_data bytes, or null when the sender gave none
};

// The WM_COPYDATA case of a window procedure; its result is what the
// sender's SendMessage returns.
using CopyDataHandler = std::function<std::int64_t(const CopyData&)>;

enum class SendResult { answered, timed_out, failed };

// FindWindowW(nullptr, title): a live window bearing `title`, or 0.
WindowHandle find_window(const char16_t* title);

// SendMessageTimeoutW(window, WM_COPYDATA, sender, &COPYDATASTRUCT{dw_data,
// cb_data, data}, SMTO_ABORTIFHUNG, timeout_ms, &answer): a window that has
// stopped taking messages is not waited for. `data` may be null.
// `answer` is set only when the result is `answered`.
SendResult send_copy_data(WindowHandle window, WindowHandle sender, std::uint64_t dw_data,
                          std::uint32_t cb_data, const void* data, std::uint32_t timeout_ms,
                          std::int64_t* answer = nullptr);

// RegisterClassW + CreateWindowExW: a top-level window titled `title` whose
// procedure hands every WM_COPYDATA to `handler`; 0 when it cannot be opened
// (elsewhere also when a live window already bears the title).
WindowHandle create_window(const char16_t* title, CopyDataHandler handler);
// Why windows cannot be opened here, for a message to the operator; empty
// when nothing is wrong with where they live (always so on Windows).
std::string window_place_problem();

// The creating thread's message loop (MsgWaitForMultipleObjects,
// PeekMessageW, DispatchMessageW) for `timeout_ms`; messages are handled only
// while it runs. False when the window is gone.
bool pump_window_messages(WindowHandle window, std::uint32_t timeout_ms);
// Where another program of the user reaches a window this process opened:
// its socket's path (docs/window-messages.md); empty on Windows, where the
// title is how a window is found.
std::string window_address(WindowHandle window);
// DestroyWindow, from the creating thread. The title is free again.
void destroy_window(WindowHandle window);

// Gives the server's console window the title messages name it by. On
// Windows the console already bears it (SetConsoleTitleW) and this does
// nothing; elsewhere it opens a window under `title` that answers every
// message with 0 on a thread of its own, for the life of the process.
void open_console_window(const char16_t* title);

}  // namespace zv
