#pragma once
// Following folders for changes to their files: inotify on Linux,
// ReadDirectoryChangesW on Windows.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zv {

// What a watch saw between two waits: the folders in which a file was
// written and closed, removed, or moved in or out, and whether changes were
// lost (the watch's queue ran over), so that only a full look finds them.
struct FolderChanges {
  std::vector<std::u16string> folders;  // the platform's folder form, each ending in its separator, each once
  bool lost = false;
};

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // False when the system offers no watch: then only full looks find changes.
  bool available() const;
  // Follows `folder` (the platform's form, ending in its separator) and, as they appear, the
  // folders below it. Folders already followed are left as they are.
  void follow(const std::u16string& folder);
  // Waits up to `timeout` for a change, then gathers what follows it closely.
  FolderChanges wait(std::chrono::milliseconds timeout);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Size and last change of a regular file, to tell a file moved (the same
// facts under another name) or rewritten (new facts under the same name).
struct FileFacts {
  std::int64_t size = 0;
  std::int64_t modified = 0;     // seconds since 1970
  std::int32_t nanoseconds = 0;  // within that second, so a rewrite in the same second shows
  bool operator==(const FileFacts&) const = default;
};
std::optional<FileFacts> file_facts(const char16_t* path);

}  // namespace zv
