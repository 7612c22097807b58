#include "server/script_path.h"

namespace zv {

bool has_parent_segment(const char16_t* path) {
  if (!path) return false;
  const char16_t* segment = path;
  for (const char16_t* at = path;; ++at) {
    if (*at == u'/' || *at == u'\\' || *at == 0) {
      if (at - segment == 2 && segment[0] == u'.' && segment[1] == u'.') return true;
      if (*at == 0) return false;
      segment = at + 1;
    }
  }
}

}  // namespace zv
