#pragma once
// Files as the system sees them: whether one can be read (CreateFileW with
// GENERIC_READ on a disk file), and replacing one whole and durably.

#include <filesystem>
#include <string_view>

namespace zv {

// True when `path` names a regular file that this process may open for reading.
bool is_readable_file(const char16_t* path);

// Replaces `file` with `content`: written beside it, flushed to the disk, then
// renamed over it, so a reader (or the next start after a power cut or a kill)
// finds the old content or the new one, never a part. False when it could not.
bool write_file_whole(const std::filesystem::path& file, std::string_view content);

}  // namespace zv
