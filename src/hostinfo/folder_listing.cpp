#include "hostinfo/folder_listing.h"

#include <string>
#include <vector>

#include "hostinfo/folder_tree.h"
#include "text/encoding.h"

namespace zv {

namespace {

class Listing : public TreeVisitor {
 public:
  Listing(FormBody& body, unsigned flags, const char* folder_field, const char* file_field)
      : body_(body), flags_(flags), folder_field_(folder_field), file_field_(file_field) {}

  // The prefix is encoded like the names, so a folder such as "Rock & Roll"
  // reaches the script whole.
  void enter(const char16_t* folder) override {
    const std::optional<std::u16string> slash_path = folder_path_slash(folder);
    prefixes_.push_back(slash_path ? form_encode(slash_path->c_str(), 0) : std::string());
  }
  void leave() override { prefixes_.pop_back(); }
  bool folder(const char16_t*, const std::u16string& name) override {
    if (flags_ & LIST_FOLDERS) append_field(folder_field_, name);
    return true;
  }
  void file(const char16_t*, const std::u16string& name) override {
    if (flags_ & LIST_FILES) append_field(file_field_, name);
  }
  std::size_t gathered() const override { return body_.length(); }

 private:
  void append_field(const char* field, const std::u16string& name) {
    body_.append(field);
    body_.append("[]=");
    if (flags_ & LIST_FULL_PATH) body_.append(prefixes_.back().c_str());
    body_.append(form_encode(name.c_str(), 0).c_str());
    body_.append_char('&');
  }

  FormBody& body_;
  unsigned flags_;
  const char* folder_field_;
  const char* file_field_;
  std::vector<std::string> prefixes_;
};

}  // namespace

int list_folder(FormBody* body, const char16_t* base_folder, const char16_t* first_sub_path,
                const char16_t* second_sub_path, const char16_t* pattern, unsigned flags, const char* folder_field,
                const char* file_field) {
  if (!body || !base_folder || !first_sub_path || !second_sub_path || !pattern) return 0;
  Listing listing(*body, flags, folder_field ? folder_field : "dir", file_field ? file_field : "file");
  walk_folder_tree(base_folder, first_sub_path, second_sub_path, pattern, (flags & LIST_RECURSE) != 0, listing);
  return 0;
}

}  // namespace zv
