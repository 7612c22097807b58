#pragma once
// One walk of a folder tree, for the folder listing and the music import
// alike: entries in the file system's order, each narrated on the console;
// sub-folders whose names have '.' as first or second character are neither
// offered nor entered, nor is a folder the walk is already inside (a link back
// up the tree); the walk ends early when gathering must stop.

#include <string>

namespace zv {

class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;
  // A folder has been opened; `folder` is its path, ending in a separator.
  virtual void enter(const char16_t* folder) { (void)folder; }
  virtual void leave() {}
  // A sub-folder that passed the skip rule; false keeps the walk out of it.
  virtual bool folder(const char16_t* folder, const std::u16string& name) = 0;
  virtual void file(const char16_t* folder, const std::u16string& name) = 0;
  // Bytes gathered so far, for the bound on the form body.
  virtual std::size_t gathered() const = 0;
};

// Walks root + relative_path + child_folder (each piece followed by one
// separator) with the search pattern; with `recurse`, every sub-folder the
// visitor accepts as well, its entries right after its own.
void walk_folder_tree(const char16_t* root, const char16_t* relative_path, const char16_t* child_folder,
                      const char16_t* pattern, bool recurse, TreeVisitor& visitor);

}  // namespace zv
