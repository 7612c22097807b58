#include "platform/window_messages.h"

#include "platform/posix/utf8_text.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// A window is a listening Unix-domain stream socket named after its title in
// a folder only its user can enter. One message is one connection: the sender
// writes a frame, the window answers with its result and both close.
// docs/window-messages.md is the protocol a player program implements.

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char FRAME_MAGIC[4] = {'Z', 'V', 'W', 'M'};
constexpr std::uint32_t WM_COPYDATA_MESSAGE = 0x004A;
constexpr std::uint32_t FLAG_HAS_DATA = 1;
constexpr std::size_t HEADER_SIZE = 32;
constexpr std::size_t ANSWER_SIZE = 8;
// A window gives a sender this long to deliver its frame.
constexpr auto RECEIVE_LIMIT = std::chrono::seconds(5);
// Frames claiming more data than this are refused unread.
constexpr std::uint32_t MAX_MESSAGE_DATA = 64u << 20;

// --- The folder and the endpoint names.

// Without a folder named by the environment, the windows meet in the working
// directory (the server folder, where the server and the player both run),
// never under /tmp, where another user could make the folder first.
std::string window_folder() {
  if (const char* dir = std::getenv("ZV_WINDOW_DIR"); dir && *dir) return dir;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/zv-windows";
  char here[4096];
  if (!::getcwd(here, sizeof(here))) return {};
  return std::string(here) + "/zv-windows";
}

// A folder someone else owns, or may enter, is not ours to trust.
bool folder_is_private(const std::string& folder) {
  struct stat info {};
  return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & 077) == 0;
}

// The title in UTF-8, every byte but letters, digits, "-" and "_" as %XX.
std::string endpoint_name(const char16_t* title) {
  const std::string utf8 = utf8_from_wide(title);
  static const char hex[] = "0123456789ABCDEF";
  std::string name;
  for (const unsigned char c : utf8) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      name += static_cast<char>(c);
    } else {
      name += '%';
      name += hex[c >> 4];
      name += hex[c & 15];
    }
  }
  return name;
}

// The endpoint's socket address, when the title is usable and the path fits.
std::optional<sockaddr_un> endpoint_address(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return std::nullopt;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

std::optional<std::string> endpoint_path(const char16_t* title, bool create_folder) {
  if (!title || !*title) return std::nullopt;
  const std::string folder = window_folder();
  if (create_folder) ::mkdir(folder.c_str(), 0700);
  if (!folder_is_private(folder)) return std::nullopt;
  const std::string name = endpoint_name(title);
  if (name.empty()) return std::nullopt;
  std::string path = folder + "/" + name;
  if (!endpoint_address(path)) return std::nullopt;
  return path;
}

// The handle of the endpoint at `path`: its file's inode, 0 when it is not
// one of ours.
WindowHandle endpoint_identity(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid()) return 0;
  return static_cast<WindowHandle>(info.st_ino);
}

// --- Sockets with a deadline.

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

enum class Io { done, closed, timed_out, failed };

Io wait_for(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, remaining_ms(deadline));
    if (ready > 0) return Io::done;
    if (ready == 0) return Io::timed_out;
    if (errno != EINTR) return Io::failed;
  }
}

Io write_all(int fd, const unsigned char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent > 0) {
      data += sent;
      size -= static_cast<std::size_t>(sent);
    } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (const Io waited = wait_for(fd, POLLOUT, deadline); waited != Io::done) return waited;
    } else {
      return Io::failed;
    }
  }
  return Io::done;
}

Io read_all(int fd, unsigned char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    const ssize_t got = ::recv(fd, data, size, 0);
    if (got > 0) {
      data += got;
      size -= static_cast<std::size_t>(got);
    } else if (got == 0) {
      return Io::closed;
    } else if (errno == EAGAIN || errno == EINTR) {
      if (const Io waited = wait_for(fd, POLLIN, deadline); waited != Io::done) return waited;
    } else {
      return Io::failed;
    }
  }
  return Io::done;
}

bool peer_is_same_user(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

enum class Connect { connected, busy, refused };

// A window whose queue is full is alive but busy; one whose process has ended
// leaves a socket nobody listens on, and refuses.
Connect connect_endpoint(int fd, const std::string& path) {
  const auto address = endpoint_address(path);
  if (!address) return Connect::refused;
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) == 0) return Connect::connected;
    if (errno == EINTR) continue;
    return errno == EAGAIN ? Connect::busy : Connect::refused;
  }
}

int stream_socket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

void put_u32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
void put_u64(unsigned char* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
std::uint32_t get_u32(const unsigned char* at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}
std::uint64_t get_u64(const unsigned char* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

// --- The windows this process knows: those it found and those it opened.

struct PendingFrame;

struct OwnWindow {
  int listener = -1;
  std::string path;
  CopyDataHandler handler;
  std::vector<PendingFrame> pending;  // connections whose frames are on their way; read by the pumping thread
};

std::mutex registry_lock;
std::map<WindowHandle, std::string> known_paths;  // every window found or opened
std::map<WindowHandle, std::shared_ptr<OwnWindow>> own_windows;

std::optional<std::string> known_path(WindowHandle window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  const auto found = known_paths.find(window);
  if (found == known_paths.end()) return std::nullopt;
  return found->second;
}

std::shared_ptr<OwnWindow> own_window(WindowHandle window) {
  std::lock_guard<std::mutex> hold(registry_lock);
  const auto found = own_windows.find(window);
  return found == own_windows.end() ? nullptr : found->second;
}

// A connection whose frame is still on its way. Every connection of a window
// is read as its bytes come, so one that is slow to send its frame (or never
// does) holds up no other; each is given RECEIVE_LIMIT for its frame.
struct PendingFrame {
  int fd = -1;
  Clock::time_point deadline;
  std::vector<unsigned char> bytes;
};

enum class Frame { incomplete, complete, refused };

// How far the frame in `bytes` has come; `needed` is its whole size once the
// header is in.
Frame frame_state(const std::vector<unsigned char>& bytes, std::size_t& needed) {
  needed = HEADER_SIZE;
  if (bytes.size() < HEADER_SIZE) return Frame::incomplete;
  const unsigned char* header = bytes.data();
  if (std::memcmp(header, FRAME_MAGIC, 4) != 0 || get_u32(header + 4) != WM_COPYDATA_MESSAGE) return Frame::refused;
  if (get_u32(header + 28) & FLAG_HAS_DATA) {
    const std::uint32_t cb_data = get_u32(header + 24);
    if (cb_data > MAX_MESSAGE_DATA) return Frame::refused;
    needed += cb_data;
  }
  return bytes.size() >= needed ? Frame::complete : Frame::incomplete;
}

// Hands a complete frame to the handler and answers.
void answer_frame(const PendingFrame& pending, const CopyDataHandler& handler) {
  const unsigned char* header = pending.bytes.data();
  CopyData message;
  message.sender = get_u64(header + 8);
  message.dw_data = get_u64(header + 16);
  message.cb_data = get_u32(header + 24);
  if (get_u32(header + 28) & FLAG_HAS_DATA) message.data = header + HEADER_SIZE;
  const std::int64_t result = handler ? handler(message) : 0;
  unsigned char answer[ANSWER_SIZE];
  put_u64(answer, static_cast<std::uint64_t>(result));
  write_all(pending.fd, answer, ANSWER_SIZE, Clock::now() + RECEIVE_LIMIT);
}

// Reads what has come on the connection; true while it waits for more. A
// connection closed before its first byte was a window search.
bool read_frame(PendingFrame& pending, const CopyDataHandler& handler) {
  for (;;) {
    std::size_t needed = 0;
    const Frame state = frame_state(pending.bytes, needed);
    if (state == Frame::refused) return false;
    if (state == Frame::complete) {
      answer_frame(pending, handler);
      return false;
    }
    const std::size_t have = pending.bytes.size();
    pending.bytes.resize(needed);
    const ssize_t got = ::recv(pending.fd, pending.bytes.data() + have, needed - have, 0);
    pending.bytes.resize(have + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EINTR;
  }
}

}  // namespace

WindowHandle find_window(const char16_t* title) {
  const auto path = endpoint_path(title, false);
  if (!path) return 0;
  const WindowHandle window = endpoint_identity(*path);
  if (!window) return 0;
  Fd probe(stream_socket());
  if (probe.get() < 0 || connect_endpoint(probe.get(), *path) == Connect::refused) return 0;
  std::lock_guard<std::mutex> hold(registry_lock);
  known_paths[window] = *path;
  return window;
}

SendResult send_copy_data(WindowHandle window, WindowHandle sender, std::uint64_t dw_data, std::uint32_t cb_data,
                          const void* data, std::uint32_t timeout_ms, std::int64_t* answer) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  const auto path = known_path(window);
  // The window is gone once its endpoint was removed or replaced.
  if (!path || endpoint_identity(*path) != window) return SendResult::failed;
  Fd fd(stream_socket());
  if (fd.get() < 0) return SendResult::failed;
  for (;;) {
    const Connect connected = connect_endpoint(fd.get(), *path);
    if (connected == Connect::connected) break;
    if (connected == Connect::refused) return SendResult::failed;
    if (remaining_ms(deadline) == 0) return SendResult::timed_out;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!peer_is_same_user(fd.get())) return SendResult::failed;

  std::vector<unsigned char> frame(HEADER_SIZE);
  std::memcpy(frame.data(), FRAME_MAGIC, 4);
  put_u32(frame.data() + 4, WM_COPYDATA_MESSAGE);
  put_u64(frame.data() + 8, sender);
  put_u64(frame.data() + 16, dw_data);
  put_u32(frame.data() + 24, cb_data);
  put_u32(frame.data() + 28, data ? FLAG_HAS_DATA : 0);
  if (data)
    frame.insert(frame.end(), static_cast<const unsigned char*>(data),
                 static_cast<const unsigned char*>(data) + cb_data);

  const auto outcome = [](Io io) { return io == Io::timed_out ? SendResult::timed_out : SendResult::failed; };
  if (const Io written = write_all(fd.get(), frame.data(), frame.size(), deadline); written != Io::done)
    return outcome(written);
  unsigned char reply[ANSWER_SIZE];
  if (const Io read = read_all(fd.get(), reply, ANSWER_SIZE, deadline); read != Io::done) return outcome(read);
  if (answer) *answer = static_cast<std::int64_t>(get_u64(reply));
  return SendResult::answered;
}

std::string window_place_problem() {
  const std::string folder = window_folder();
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return {};  // made when the first window opens
  if (S_ISLNK(info.st_mode)) return "the window folder " + folder + " is a link";
  if (!S_ISDIR(info.st_mode)) return "the window folder " + folder + " is not a folder";
  if (info.st_uid != ::geteuid()) return "the window folder " + folder + " belongs to another user";
  if (info.st_mode & 077) return "the window folder " + folder + " is open to other users (it must be 0700)";
  return {};
}

WindowHandle create_window(const char16_t* title, CopyDataHandler handler) {
  const auto path = endpoint_path(title, true);
  if (!path) return 0;
  if (endpoint_identity(*path)) {
    Fd probe(stream_socket());
    if (probe.get() < 0 || connect_endpoint(probe.get(), *path) != Connect::refused) return 0;  // title taken
    ::unlink(path->c_str());  // left behind by a process that has ended
  }
  const int listener = stream_socket();
  if (listener < 0) return 0;
  const auto address = endpoint_address(*path);
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0 ||
      ::listen(listener, 16) != 0) {
    ::close(listener);
    return 0;
  }
  const WindowHandle window = endpoint_identity(*path);
  if (!window) {
    ::close(listener);
    return 0;
  }
  auto own = std::make_shared<OwnWindow>();
  own->listener = listener;
  own->path = *path;
  own->handler = std::move(handler);
  std::lock_guard<std::mutex> hold(registry_lock);
  own_windows[window] = std::move(own);
  known_paths[window] = *path;
  return window;
}

bool pump_window_messages(WindowHandle window, std::uint32_t timeout_ms) {
  const auto own = own_window(window);
  if (!own) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<pollfd> watched;
  for (;;) {
    watched.assign(1, pollfd{own->listener, POLLIN, 0});
    auto wake = deadline;
    for (const PendingFrame& p : own->pending) {
      watched.push_back(pollfd{p.fd, POLLIN, 0});
      if (p.deadline < wake) wake = p.deadline;
    }
    const int ready = ::poll(watched.data(), watched.size(), remaining_ms(wake));
    if (ready < 0 && errno != EINTR) return false;
    const auto now = Clock::now();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < own->pending.size(); ++i) {
      PendingFrame& p = own->pending[i];
      const bool waiting = ready > 0 && watched[i + 1].revents ? read_frame(p, own->handler) : now < p.deadline;
      if (waiting && now < p.deadline) {
        if (kept != i) own->pending[kept] = std::move(p);
        ++kept;
      } else {
        ::close(p.fd);
      }
    }
    own->pending.resize(kept);
    if (ready > 0 && watched[0].revents) {
      for (;;) {
        const int connection = ::accept4(own->listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) break;
        if (!peer_is_same_user(connection)) {
          ::close(connection);
          continue;
        }
        PendingFrame p{connection, now + RECEIVE_LIMIT, {}};
        if (read_frame(p, own->handler))
          own->pending.push_back(std::move(p));
        else
          ::close(connection);
      }
    }
    if (remaining_ms(deadline) == 0) return true;
  }
}

std::string window_address(WindowHandle window) { return known_path(window).value_or(std::string()); }

void destroy_window(WindowHandle window) {
  std::shared_ptr<OwnWindow> own;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    const auto found = own_windows.find(window);
    if (found == own_windows.end()) return;
    own = found->second;
    own_windows.erase(found);
    known_paths.erase(window);
  }
  if (endpoint_identity(own->path) == window) ::unlink(own->path.c_str());
  for (const PendingFrame& p : own->pending) ::close(p.fd);
  ::close(own->listener);
}

void open_console_window(const char16_t* title) {
  const WindowHandle window = create_window(title, [](const CopyData&) -> std::int64_t { return 0; });
  if (!window) {
    // Without it the player cannot find the server, and songs are not handed off.
    if (const std::string problem = window_place_problem(); !problem.empty())
      std::printf("The console window cannot be opened: %s.\n", problem.c_str());
    return;
  }
  // Without a thread of its own the window is not served: it is closed, and
  // the server goes on without one, as when no window could be opened.
  try {
    std::thread([window] {
      while (pump_window_messages(window, 60000)) {
      }
    }).detach();
  } catch (const std::system_error&) {
    destroy_window(window);
  }
}

}  // namespace zv
