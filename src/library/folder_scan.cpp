#include <cstdio>
#include <string_view>
#include <vector>

#include "hostinfo/folder_listing.h"
#include "library/folder_import.h"
#include "platform/folder_walk.h"
#include "platform/path_style.h"
#include "text/encoding.h"

namespace zv {

namespace {

void append_separator(WideTextBuffer& path) {
  if (path.last_char() != FOLDER_SEPARATOR) path.append_char(FOLDER_SEPARATOR);
}

// ".", "..", hidden folders such as ".git", and names like "A.Side".
bool is_skipped_folder(const std::u16string& name) {
  return (!name.empty() && name[0] == u'.') || (name.size() > 1 && name[1] == u'.');
}

// Case counts: "b.MP3" does not end in ".mp3". A name that is only the
// extension is not a match either.
bool has_extension(const std::u16string& name, const char16_t* extension) {
  std::u16string_view wanted(extension);
  return name.size() > wanted.size() && std::u16string_view(name).substr(name.size() - wanted.size()) == wanted;
}

void print_name(const std::u16string& name, const char* format) {
  std::printf(format, wide_to_utf8(name.c_str(), static_cast<int>(name.size())).value_or(std::string()).c_str());
}

bool holds_line_break(std::u16string_view name) { return name.find_first_of(u"\n\r") != std::u16string_view::npos; }

// `inside` holds the folders of the current walk path, from the root down.
void scan(WideTextBuffer& list, const char16_t* root, const char16_t* relative_path,
          const char16_t* child_folder, const char16_t* pattern, unsigned flags, const char16_t* extension,
          std::vector<FolderId>& inside) {
  std::u16string_view lengths[] = {root, relative_path, child_folder, pattern};
  std::uint32_t capacity = 5;
  for (auto piece : lengths) capacity += static_cast<std::uint32_t>(piece.size());
  WideTextBuffer path(capacity);
  path.append(root);
  append_separator(path);
  const std::uint32_t relative_start = path.length();
  path.append(relative_path);
  append_separator(path);
  path.append(child_folder);
  append_separator(path);
  const std::uint32_t folder_length = path.length();
  path.append(pattern);

  FolderWalk walk;
  FolderEntry entry;
  if (!walk.open(path.data(), entry)) return;
  path.truncate(folder_length);

  // A link that leads back to a folder this walk is already inside would
  // make the walk endless.
  FolderId id;
  const bool identified = folder_identity(path.data(), id);
  if (identified) {
    for (const FolderId& outer : inside) {
      if (outer == id) return;
    }
    inside.push_back(id);
  }

  const bool match_any = extension == nullptr || *extension == 0;
  do {
    if (entry.is_folder) {
      print_name(entry.name, "%s <DIR>\n");
      if (is_skipped_folder(entry.name) || refuse_line_break(path.data(), entry.name)) continue;
      if (flags & LIST_FOLDERS) {
        if (flags & LIST_FULL_PATH) list.append(path.data());
        list.append(entry.name.c_str());
        list.append_char(u'\n');
      }
      if (flags & LIST_RECURSE) {
        std::u16string relative(path.data() + relative_start, folder_length - relative_start);
        scan(list, root, relative.c_str(), entry.name.c_str(), pattern, flags, extension, inside);
      }
    } else {
      print_name(entry.name, "%s\n");
      if ((flags & LIST_FILES) && (match_any || has_extension(entry.name, extension)) &&
          !refuse_line_break(path.data(), entry.name)) {
        if (flags & LIST_FULL_PATH) list.append(path.data());
        list.append(entry.name.c_str());
        list.append_char(u'\n');
      }
    }
  } while (walk.next(entry));

  if (identified) inside.pop_back();
}

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
  std::vector<FolderId> inside;
  scan(*list, root, relative_path, child_folder, pattern, flags, extension, inside);
  return 0;
}

}  // namespace zv
