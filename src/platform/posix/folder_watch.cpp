#include "platform/folder_watch.h"

#include "platform/posix/utf8_text.h"

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

namespace zv {
namespace {

constexpr std::uint32_t FILE_EVENTS = IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_CREATE;
// Changes that come together (a copy of many files, a move of a folder) are
// gathered until the folders stay quiet this long.
constexpr std::chrono::milliseconds SETTLE{500};
constexpr std::chrono::seconds GATHER_AT_MOST{3};

}  // namespace

struct FolderWatch::State {
  int fd = -1;
  std::map<int, std::string> folders;  // by watch descriptor, each ending in "/"
  std::set<std::string> followed;

  // Adds a watch on `folder` and every folder below it that is not hidden.
  void add_tree(const std::string& folder) {
    if (followed.count(folder)) return;
    const int wd = ::inotify_add_watch(fd, folder.c_str(), FILE_EVENTS | IN_ONLYDIR);
    if (wd < 0) return;
    folders[wd] = folder;
    followed.insert(folder);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;  // ".", "..", hidden folders
      const std::string path = folder + entry->d_name;
      struct stat info {};
      if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) add_tree(path + "/");
    }
    ::closedir(dir);
  }
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {
  state_->fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
}

FolderWatch::~FolderWatch() {
  if (state_->fd >= 0) ::close(state_->fd);
}

bool FolderWatch::available() const { return state_->fd >= 0; }

void FolderWatch::follow(const std::u16string& folder) {
  if (state_->fd >= 0) state_->add_tree(utf8_from_wide(folder.c_str()));
}

FolderChanges FolderWatch::wait(std::chrono::milliseconds timeout) {
  FolderChanges changes;
  if (state_->fd < 0) {
    ::poll(nullptr, 0, static_cast<int>(timeout.count()));
    return changes;
  }
  std::set<std::string> changed;
  const auto gather_until = std::chrono::steady_clock::now() + GATHER_AT_MOST;
  auto wait = timeout;
  alignas(inotify_event) char buffer[65536];
  for (;;) {
    pollfd watched{state_->fd, POLLIN, 0};
    if (::poll(&watched, 1, static_cast<int>(wait.count())) <= 0) break;
    for (ssize_t got; (got = ::read(state_->fd, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) changes.lost = true;
        if (event->mask & IN_IGNORED) {
          state_->followed.erase(state_->folders[event->wd]);
          state_->folders.erase(event->wd);
          continue;
        }
        const auto folder = state_->folders.find(event->wd);
        if (folder == state_->folders.end()) continue;
        const bool is_folder = event->mask & IN_ISDIR;
        // A file only being created is not there yet: its closing counts.
        if ((event->mask & IN_CREATE) && !is_folder) continue;
        if (is_folder && (event->mask & (IN_CREATE | IN_MOVED_TO)) && event->len > 0 && event->name[0] != '.')
          state_->add_tree(folder->second + event->name + "/");
        changed.insert(folder->second);
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (changed.empty() || now >= gather_until) break;
    wait = std::min(SETTLE, std::chrono::duration_cast<std::chrono::milliseconds>(gather_until - now));
  }
  for (const std::string& folder : changed) changes.folders.push_back(wide_from_utf8(folder.c_str()));
  return changes;
}

std::optional<FileFacts> file_facts(const char16_t* path) {
  struct stat info {};
  if (!path || ::stat(utf8_from_wide(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileFacts{static_cast<std::int64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtim.tv_sec),
                   static_cast<std::int32_t>(info.st_mtim.tv_nsec)};
}

}  // namespace zv
