#include "platform/window_messages.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <system_error>
#include <thread>

namespace zv {
namespace {
constexpr wchar_t WINDOW_CLASS[] = L"zv_copy_data_window";

HWND native(WindowHandle window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }
WindowHandle handle_of(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  auto* handler = reinterpret_cast<CopyDataHandler*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_COPYDATA: {
      if (!handler || !*handler) return 0;
      const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(l_param);
      CopyData data{static_cast<WindowHandle>(w_param), copy->dwData, copy->cbData, copy->lpData};
      return static_cast<LRESULT>((*handler)(data));
    }
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      delete handler;
      return 0;
    default:
      return DefWindowProcW(window, message, w_param, l_param);
  }
}

bool register_window_class() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = WINDOW_CLASS;
  return RegisterClassW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
}  // namespace

WindowHandle find_window(const char16_t* title) {
  return handle_of(FindWindowW(nullptr, reinterpret_cast<const wchar_t*>(title)));
}

SendResult send_copy_data(WindowHandle window, WindowHandle sender, std::uint64_t dw_data, std::uint32_t cb_data,
                          const void* data, std::uint32_t timeout_ms, std::int64_t* answer) {
  COPYDATASTRUCT copy{static_cast<ULONG_PTR>(dw_data), cb_data, const_cast<void*>(data)};
  DWORD_PTR result = 0;
  SetLastError(ERROR_SUCCESS);
  if (!SendMessageTimeoutW(native(window), WM_COPYDATA, static_cast<WPARAM>(sender), reinterpret_cast<LPARAM>(&copy),
                           SMTO_ABORTIFHUNG, timeout_ms, &result))
    return GetLastError() == ERROR_TIMEOUT ? SendResult::timed_out : SendResult::failed;
  if (answer) *answer = static_cast<std::int64_t>(result);
  return SendResult::answered;
}

WindowHandle create_window(const char16_t* title, CopyDataHandler handler) {
  if (!register_window_class()) return 0;
  // A hidden top-level window: FindWindowW does not see message-only windows.
  HWND window = CreateWindowExW(0, WINDOW_CLASS, reinterpret_cast<const wchar_t*>(title), WS_OVERLAPPED, 0, 0, 0, 0,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) return 0;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new CopyDataHandler(std::move(handler))));
  return handle_of(window);
}

std::string window_place_problem() { return {}; }  // windows live in the session, not in a folder

bool pump_window_messages(WindowHandle window, std::uint32_t timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (!IsWindow(native(window))) return false;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

std::string window_address(WindowHandle) { return std::string(); }

void destroy_window(WindowHandle window) { DestroyWindow(native(window)); }

void open_console_window(const char16_t* title) {
  // A console window already bears the title. Without one (a detached server,
  // or a console that is not a window) a hidden window takes the title, so
  // the player can still tell who is speaking.
  if (GetConsoleWindow()) return;
  try {
    std::thread([title = std::u16string(title)] {
      const WindowHandle window = create_window(title.c_str(), [](const CopyData&) -> std::int64_t { return 0; });
      if (!window) return;
      while (pump_window_messages(window, 60000)) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread for the window: the server goes on without one.
  }
}

}  // namespace zv
