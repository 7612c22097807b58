#pragma once
// Which request paths may name a script to run.

#include <string>

namespace zv {

// True when the path has a ".." segment: between "/" or "\" separators or
// at either end. Such a path could reach a script outside www.
bool has_parent_segment(const char16_t* path);
// True when the path has a "." or ".." segment. A folder named so would be
// stored as a second name of a folder the library may hold already.
bool has_dot_segment(const char16_t* path);

// True when www/<path> is a regular file the server may read: a path that
// names no script is not handed to the interpreter.
bool script_exists(const std::u16string& path);

}  // namespace zv
