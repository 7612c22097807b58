#pragma once
// Whether a file can be read: CreateFileW(GENERIC_READ) on a disk file.

namespace zv {

// True when `path` names a regular file that this process may open for reading.
bool is_readable_file(const char16_t* path);

}  // namespace zv
