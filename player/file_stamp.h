#pragma once
// A file as it is on the disk now. A song's measures and tags hold for the
// file as it was when they were taken: one that differs is read again.

#include <cstdint>
#include <string>

namespace zv::player {

struct FileStamp {
  std::int64_t size = -1;     // -1: no such file
  std::int64_t modified = 0;  // nanoseconds of the file system's clock
  bool operator==(const FileStamp&) const = default;
  // The modification time in seconds since 1970, as the library keeps it.
  std::int64_t modified_s() const;
};

FileStamp stamp_of(const std::string& path);

}  // namespace zv::player
