#include "hostinfo/folder_tree.h"

#include "hostinfo/gather_bound.h"
#include "platform/console.h"
#include "platform/folder_walk.h"
#include "platform/path_style.h"
#include "text/encoding.h"
#include "text/text_buffer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace zv {
namespace {

struct Walk {
  const char16_t* root;
  const char16_t* pattern;
  bool recurse;
  TreeVisitor& visitor;
  std::vector<FolderId> inside;  // the folders of the current walk path, from the root down
};

// A path piece followed by one separator, unless the path already ends in one.
void append_piece(WideTextBuffer& path, const char16_t* piece) {
  path.append(piece);
  if (path.last_char() != FOLDER_SEPARATOR) path.append_char(FOLDER_SEPARATOR);
}

void print_entry(const FolderEntry& entry) {
  const std::optional<std::string> name = wide_to_utf8(entry.name.c_str(), static_cast<int>(entry.name.size()));
  narrate(entry.is_folder ? "%s <DIR>\n" : "%s\n", name ? name->c_str() : "");
}

// ".", "..", hidden folders such as ".git", and names like "1.Pop".
bool is_skipped_folder(const std::u16string& name) {
  return (!name.empty() && name[0] == u'.') || (name.size() > 1 && name[1] == u'.');
}

// False once gathering had to stop: the whole walk ends.
bool walk_one(Walk& walk, const char16_t* relative_path, const char16_t* child_folder) {
  WideTextBuffer path;
  append_piece(path, walk.root);
  const std::uint32_t relative_start = path.length();
  append_piece(path, relative_path);
  append_piece(path, child_folder);
  const std::uint32_t folder_end = path.length();

  // A link that leads back to a folder this walk is already inside would
  // make the walk endless.
  FolderId id;
  const bool identified = folder_identity(path.data(), id);
  if (identified && std::find(walk.inside.begin(), walk.inside.end(), id) != walk.inside.end()) return true;

  path.append(walk.pattern);
  FolderWalk entries;
  FolderEntry entry;
  if (!entries.open(path.data(), entry)) return true;
  path.truncate(folder_end);

  if (identified) walk.inside.push_back(id);
  walk.visitor.enter(path.data());
  bool going_on = true;
  do {
    if (gathering_must_stop(walk.visitor.gathered())) {
      going_on = false;
      break;
    }
    print_entry(entry);
    if (!entry.is_folder) {
      walk.visitor.file(path.data(), entry.name);
      continue;
    }
    if (is_skipped_folder(entry.name) || !walk.visitor.folder(path.data(), entry.name)) continue;
    if (walk.recurse) {
      const std::u16string relative(path.data() + relative_start, folder_end - relative_start);
      going_on = walk_one(walk, relative.c_str(), entry.name.c_str());
    }
  } while (going_on && entries.next(entry));
  walk.visitor.leave();
  if (identified) walk.inside.pop_back();
  return going_on;
}

}  // namespace

void walk_folder_tree(const char16_t* root, const char16_t* relative_path, const char16_t* child_folder,
                      const char16_t* pattern, bool recurse, TreeVisitor& visitor) {
  Walk walk{root, pattern, recurse, visitor, {}};
  walk_one(walk, relative_path, child_folder);
}

}  // namespace zv
