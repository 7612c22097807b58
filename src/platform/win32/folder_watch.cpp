#include "platform/folder_watch.h"

#include <windows.h>

#include <algorithm>
#include <set>

namespace zv {
namespace {

constexpr DWORD NOTIFY_FILTER = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
// Changes that come together are gathered until the folders stay quiet this
// long.
constexpr DWORD SETTLE_MS = 500;
constexpr DWORD GATHER_AT_MOST_MS = 3000;

std::wstring native(const std::u16string& folder) { return std::wstring(folder.begin(), folder.end()); }

// One followed tree: its folder handle and the read in flight on it.
struct Tree {
  std::u16string folder;  // ending in "\\"
  HANDLE handle = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped{};
  alignas(DWORD) char buffer[65536];

  bool start() {
    ResetEvent(overlapped.hEvent);
    return ReadDirectoryChangesW(handle, buffer, sizeof buffer, TRUE, NOTIFY_FILTER, nullptr, &overlapped, nullptr) !=
           0;
  }
};

}  // namespace

struct FolderWatch::State {
  std::vector<std::unique_ptr<Tree>> trees;
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {}

FolderWatch::~FolderWatch() {
  for (auto& tree : state_->trees) {
    CancelIoEx(tree->handle, &tree->overlapped);
    DWORD ignored = 0;
    GetOverlappedResult(tree->handle, &tree->overlapped, &ignored, TRUE);
    CloseHandle(tree->handle);
    CloseHandle(tree->overlapped.hEvent);
  }
}

bool FolderWatch::available() const { return true; }

void FolderWatch::follow(const std::u16string& folder) {
  for (const auto& tree : state_->trees) {
    if (folder.rfind(tree->folder, 0) == 0) return;  // inside a tree already followed
  }
  auto tree = std::make_unique<Tree>();
  tree->folder = folder;
  tree->handle =
      CreateFileW(native(folder).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (tree->handle == INVALID_HANDLE_VALUE) return;
  tree->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!tree->overlapped.hEvent || !tree->start()) {
    if (tree->overlapped.hEvent) CloseHandle(tree->overlapped.hEvent);
    CloseHandle(tree->handle);
    return;
  }
  state_->trees.push_back(std::move(tree));
}

FolderChanges FolderWatch::wait(std::chrono::milliseconds timeout) {
  FolderChanges changes;
  std::set<std::u16string> changed;
  std::vector<HANDLE> events;
  for (const auto& tree : state_->trees) events.push_back(tree->overlapped.hEvent);
  if (events.empty()) {
    Sleep(static_cast<DWORD>(timeout.count()));
    return changes;
  }
  const ULONGLONG gather_until = GetTickCount64() + GATHER_AT_MOST_MS;
  DWORD wait = static_cast<DWORD>(timeout.count());
  for (;;) {
    const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, wait);
    if (woke >= WAIT_OBJECT_0 + events.size()) break;
    Tree& tree = *state_->trees[woke - WAIT_OBJECT_0];
    DWORD length = 0;
    if (!GetOverlappedResult(tree.handle, &tree.overlapped, &length, FALSE) || length == 0) {
      changes.lost = true;  // the buffer ran over
    } else {
      for (DWORD at = 0;;) {
        const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(tree.buffer + at);
        std::u16string name(reinterpret_cast<const char16_t*>(info->FileName), info->FileNameLength / 2);
        changed.insert(tree.folder + name.substr(0, name.find_last_of(u'\\') + 1));
        if (info->NextEntryOffset == 0) break;
        at += info->NextEntryOffset;
      }
    }
    tree.start();
    const ULONGLONG now = GetTickCount64();
    if (now >= gather_until) break;
    wait = static_cast<DWORD>(std::min<ULONGLONG>(SETTLE_MS, gather_until - now));
  }
  changes.folders.assign(changed.begin(), changed.end());
  return changes;
}

std::optional<FileFacts> file_facts(const char16_t* path) {
  if (!path) return std::nullopt;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(reinterpret_cast<const wchar_t*>(path), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  const auto size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const auto ticks =
      (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  // 100 ns since 1601 to seconds since 1970 and the nanoseconds within the second
  return FileFacts{size, ticks / 10000000 - 11644473600LL, static_cast<std::int32_t>(ticks % 10000000 * 100)};
}

}  // namespace zv
