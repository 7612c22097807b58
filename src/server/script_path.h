#pragma once
// Which request paths may name a script to run.

namespace zv {

// True when the path has a ".." segment: between "/" or "\" separators or
// at either end. Such a path could reach a script outside www.
bool has_parent_segment(const char16_t* path);

}  // namespace zv
