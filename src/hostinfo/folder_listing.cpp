#include "hostinfo/folder_listing.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/folder_walk.h"
#include "platform/path_style.h"
#include "text/encoding.h"

namespace zv {

namespace {

// The folders between the top of one listing and the folder being listed, so
// that a link leading back into one of them ends the walk instead of looping.
using WalkPath = std::vector<FolderId>;

struct ListingRequest {
  FormBody& body;
  const char16_t* base_folder;
  const char16_t* pattern;
  unsigned flags;
  const char* folder_field;
  const char* file_field;
};

// A path piece followed by one separator, unless the path already ends in one.
void append_piece(WideTextBuffer& path, const char16_t* piece) {
  path.append(piece);
  if (path.last_char() != FOLDER_SEPARATOR) path.append_char(FOLDER_SEPARATOR);
}

void print_entry(const FolderEntry& entry) {
  const std::optional<std::string> name = wide_to_utf8(entry.name.c_str(), -1);
  std::printf(entry.is_folder ? "%s <DIR>\n" : "%s\n", name ? name->c_str() : "");
}

// Names starting with "." (".", "..", ".git") or with "." as second character
// ("1.Pop") are never listed or entered.
bool is_skipped_folder(const std::u16string& name) {
  return (name.size() > 0 && name[0] == u'.') || (name.size() > 1 && name[1] == u'.');
}

void append_field(const ListingRequest& request, const char* field, const std::string& prefix,
                  const std::u16string& name) {
  FormBody& body = request.body;
  body.append(field);
  body.append("[]=");
  if (request.flags & LIST_FULL_PATH) body.append(prefix.c_str());
  body.append(form_encode(name.c_str(), 0).c_str());
  body.append_char('&');
}

void list_one_folder(const ListingRequest& request, const char16_t* first_sub_path, const char16_t* second_sub_path,
                     WalkPath& walk_path) {
  WideTextBuffer path;
  append_piece(path, request.base_folder);
  const std::uint32_t base_end = path.length();
  append_piece(path, first_sub_path);
  append_piece(path, second_sub_path);
  const std::uint32_t folder_end = path.length();

  // The prefix is encoded like the names, so a folder such as "Rock & Roll"
  // reaches the script whole.
  const std::optional<std::u16string> slash_path = folder_path_slash(path.data());
  const std::string prefix = slash_path ? form_encode(slash_path->c_str(), 0) : std::string();

  FolderId id;
  const bool identified = folder_identity(path.data(), id);
  if (identified && std::find(walk_path.begin(), walk_path.end(), id) != walk_path.end()) return;

  path.append(request.pattern);
  FolderWalk walk;
  FolderEntry entry;
  if (!walk.open(path.data(), entry)) return;
  path.truncate(folder_end);

  if (identified) walk_path.push_back(id);
  do {
    print_entry(entry);
    if (!entry.is_folder) {
      if (request.flags & LIST_FILES) append_field(request, request.file_field, prefix, entry.name);
      continue;
    }
    if (is_skipped_folder(entry.name)) continue;
    if (request.flags & LIST_FOLDERS) append_field(request, request.folder_field, prefix, entry.name);
    // The sub-tree's fields follow its folder's own field.
    if (request.flags & LIST_RECURSE) list_one_folder(request, path.data() + base_end, entry.name.c_str(), walk_path);
  } while (walk.next(entry));
  if (identified) walk_path.pop_back();
}

}  // namespace

int list_folder(FormBody* body, const char16_t* base_folder, const char16_t* first_sub_path,
                const char16_t* second_sub_path, const char16_t* pattern, unsigned flags, const char* folder_field,
                const char* file_field) {
  if (!body || !base_folder || !first_sub_path || !second_sub_path || !pattern) return 0;
  const ListingRequest request{*body, base_folder, pattern, flags, folder_field ? folder_field : "dir",
                               file_field ? file_field : "file"};
  WalkPath walk_path;
  list_one_folder(request, first_sub_path, second_sub_path, walk_path);
  return 0;
}

}  // namespace zv
