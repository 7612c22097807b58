#include <cstdio>
#include <string_view>

#include "hostinfo/folder_listing.h"
#include "hostinfo/folder_tree.h"
#include "library/folder_import.h"
#include "platform/console.h"
#include "text/encoding.h"

namespace zv {

namespace {

// Case counts: "b.MP3" does not end in ".mp3". A name that is only the
// extension is not a match either.
bool has_extension(const std::u16string& name, const char16_t* extension) {
  std::u16string_view wanted(extension);
  return name.size() > wanted.size() && std::u16string_view(name).substr(name.size() - wanted.size()) == wanted;
}

void print_name(const std::u16string& name, const char* format) {
  narrate(format, wide_to_utf8(name.c_str(), static_cast<int>(name.size())).value_or(std::string()).c_str());
}

bool holds_line_break(std::u16string_view name) { return name.find_first_of(u"\n\r") != std::u16string_view::npos; }

class Scan : public TreeVisitor {
 public:
  Scan(WideTextBuffer& list, unsigned flags, const char16_t* extension)
      : list_(list), flags_(flags), extension_(extension) {}

  bool folder(const char16_t* folder, const std::u16string& name) override {
    if (refuse_line_break(folder, name)) return false;
    if (flags_ & LIST_FOLDERS) append(folder, name);
    return true;
  }
  void file(const char16_t* folder, const std::u16string& name) override {
    const bool match_any = extension_ == nullptr || *extension_ == 0;
    if ((flags_ & LIST_FILES) && (match_any || has_extension(name, extension_)) && !refuse_line_break(folder, name))
      append(folder, name);
  }
  std::size_t gathered() const override { return std::size_t{list_.length()} * sizeof(char16_t); }

 private:
  void append(const char16_t* folder, const std::u16string& name) {
    if (flags_ & LIST_FULL_PATH) list_.append(folder);
    list_.append(name.c_str());
    list_.append_char(u'\n');
  }

  WideTextBuffer& list_;
  unsigned flags_;
  const char16_t* extension_;
};

}  // namespace

bool refuse_line_break(const char16_t* folder, const std::u16string& name) {
  if (!holds_line_break(name) && !holds_line_break(folder)) return false;
  // Shown on one line, with the breaks written as in a URL.
  std::u16string shown;
  for (const char16_t c : std::u16string(folder) + name) {
    if (c == u'\n') {
      shown += u"%0A";
    } else if (c == u'\r') {
      shown += u"%0D";
    } else {
      shown += c;
    }
  }
  print_name(shown, "%s is not imported: its name holds a line break.\n");
  return true;
}

int scan_folder_files(WideTextBuffer* list, const char16_t* root, const char16_t* relative_path,
                      const char16_t* child_folder, const char16_t* pattern, unsigned flags,
                      const char16_t* extension) {
  if (!list || !root || !relative_path || !child_folder || !pattern) return 0;
  Scan scan(*list, flags, extension);
  walk_folder_tree(root, relative_path, child_folder, pattern, (flags & LIST_RECURSE) != 0, scan);
  return 0;
}

}  // namespace zv
