#pragma once
// A window that a test opens under a title: it runs its message loop on a
// thread of its own and keeps every WM_COPYDATA it receives.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_messages.h"

namespace zv::test {

// Points the window folder (ZV_WINDOW_DIR) at a fresh private folder for the
// life of the object, so a test meets only its own windows.
class PrivateWindowFolder {
 public:
  PrivateWindowFolder() {
    namespace fs = std::filesystem;
    parent_ = fs::temp_directory_path() / ("zv-window-test-" + std::to_string(std::random_device{}()));
    fs::create_directories(parent_);
    path_ = parent_ / "windows";  // created by the first window, private
    set(path_.string().c_str());
  }
  ~PrivateWindowFolder() {
    set(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(parent_, ignored);
  }
  PrivateWindowFolder(const PrivateWindowFolder&) = delete;
  PrivateWindowFolder& operator=(const PrivateWindowFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  static void set(const char* value) {
#ifdef _WIN32
    _putenv_s("ZV_WINDOW_DIR", value ? value : "");
#else
    if (value) {
      ::setenv("ZV_WINDOW_DIR", value, 1);
    } else {
      ::unsetenv("ZV_WINDOW_DIR");
    }
#endif
  }
  std::filesystem::path parent_;
  std::filesystem::path path_;
};

struct ReceivedMessage {
  WindowHandle sender = 0;
  std::uint64_t dw_data = 0;
  std::uint32_t cb_data = 0;
  bool has_data = false;
  std::vector<unsigned char> data;

  // The data read as UTF-16 up to its first NUL.
  std::u16string text() const {
    std::u16string out(data.size() / 2, u'\0');
    if (!out.empty()) std::memcpy(out.data(), data.data(), out.size() * 2);
    return out.substr(0, std::char_traits<char16_t>::length(out.c_str()));
  }
};

class ReceivingWindow {
 public:
  // `answer` is what every message is answered with; `pumping` false leaves
  // the window open but never answering, as a hung program does.
  explicit ReceivingWindow(std::u16string title, std::int64_t answer = 1, bool pumping = true) {
    thread_ = std::thread([this, title, answer, pumping] {
      const WindowHandle window = create_window(title.c_str(), [this, answer](const CopyData& message) {
        ReceivedMessage copy{message.sender, message.dw_data, message.cb_data, message.data != nullptr, {}};
        if (message.data) {
          const auto* bytes = static_cast<const unsigned char*>(message.data);
          copy.data.assign(bytes, bytes + message.cb_data);
        }
        std::lock_guard<std::mutex> hold(lock_);
        messages_.push_back(std::move(copy));
        changed_.notify_all();
        return answer;
      });
      {
        std::lock_guard<std::mutex> hold(lock_);
        handle_ = window;
        opened_ = true;
        changed_.notify_all();
      }
      while (!stop_) {
        if (pumping) {
          pump_window_messages(window, 20);
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
      destroy_window(window);
    });
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return opened_; });
  }
  ~ReceivingWindow() {
    stop_ = true;
    thread_.join();
  }
  ReceivingWindow(const ReceivingWindow&) = delete;
  ReceivingWindow& operator=(const ReceivingWindow&) = delete;

  WindowHandle handle() const { return handle_; }
  std::vector<ReceivedMessage> messages() const {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<ReceivedMessage> messages_;
  WindowHandle handle_ = 0;
  bool opened_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zv::test
