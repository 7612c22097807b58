#include "server/script_path.h"

#include "platform/file_access.h"
#include "platform/path_style.h"

namespace zv {

namespace {

// Whether a segment of the path is ".." (or also ".", when `current` is set).
bool has_segment_of_dots(const char16_t* path, bool current) {
  if (!path) return false;
  const char16_t* segment = path;
  for (const char16_t* at = path;; ++at) {
    if (*at == u'/' || *at == u'\\' || *at == 0) {
      if (at - segment == 2 && segment[0] == u'.' && segment[1] == u'.') return true;
      if (current && at - segment == 1 && segment[0] == u'.') return true;
      if (*at == 0) return false;
      segment = at + 1;
    }
  }
}

}  // namespace

bool has_parent_segment(const char16_t* path) { return has_segment_of_dots(path, false); }

bool has_dot_segment(const char16_t* path) { return has_segment_of_dots(path, true); }

bool script_exists(const std::u16string& path) {
  std::u16string file = u"www";
  file += FOLDER_SEPARATOR;
  file += path;
  return is_readable_file(file.c_str());
}

}  // namespace zv
