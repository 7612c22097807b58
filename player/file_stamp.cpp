#include "file_stamp.h"

#include <chrono>
#include <filesystem>

namespace zv::player {

FileStamp stamp_of(const std::string& path) {
  std::error_code failed;
  const auto size = std::filesystem::file_size(path, failed);
  if (failed) return {};
  const auto modified = std::filesystem::last_write_time(path, failed);
  if (failed) return {};
  return {static_cast<std::int64_t>(size),
          std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count()};
}

std::int64_t FileStamp::modified_s() const {
  const std::filesystem::file_time_type at{
      std::chrono::duration_cast<std::filesystem::file_time_type::duration>(std::chrono::nanoseconds(modified))};
  return std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(at)).time_since_epoch().count();
}

}  // namespace zv::player
