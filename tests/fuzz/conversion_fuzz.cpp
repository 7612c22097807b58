// The code-page conversions and the folder-path forms on arbitrary input.

#include "fuzz_checks.h"
#include "platform/codepage.h"
#include "text/encoding.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check_folder_form(const std::u16string& path, const std::optional<std::u16string>& form, char16_t separator) {
  using zv::fuzz::check;
  if (path.empty()) {
    check(!form.has_value(), "an empty path has no folder form");
    return;
  }
  check(form.has_value() && !form->empty(), "a path has a folder form");
  check(form->back() == separator, "a folder form ends in its separator");
  const char16_t other = separator == u'/' ? u'\\' : u'/';
  check(form->find(other) == std::u16string::npos, "one kind of separator");
  check(form->find(std::u16string(2, separator)) == std::u16string::npos, "no run of separators");
  check(form->size() <= path.size() + 1, "at most one character longer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  using fuzz::check;
  const std::vector<char> bytes(data, data + size);  // unterminated
  const int count = static_cast<int>(size);

  // Narrow to wide: the only lone surrogates carry stray bytes, and back
  // again gives the very bytes (valid UTF-8 that converts to the same wide
  // text, where such bytes become U+FFFD).
  if (const auto wide = utf8_to_wide(bytes.data(), count)) {
    check(size > 0, "nothing from nothing");
    check(NAMES_ARE_BYTES ? fuzz::lone_surrogates_are_bytes(*wide) : !fuzz::has_lone_surrogate(*wide),
          "UTF-8 input gives well-formed UTF-16 or carried bytes");
    check(wide->size() <= size, "never more units than bytes");
    const auto narrow = wide_to_utf8(wide->data(), static_cast<int>(wide->size()));
    check(narrow.has_value(), "converted text converts back");
    check(utf8_to_wide(narrow->data(), static_cast<int>(narrow->size())) == *wide, "UTF-8 round trip");
    if (NAMES_ARE_BYTES || fuzz::is_valid_utf8(std::string(bytes.begin(), bytes.end()))) {
      check(*narrow == std::string(bytes.begin(), bytes.end()), "the bytes come back unchanged");
    } else {
      check(fuzz::is_valid_utf8(*narrow), "well-formed UTF-16 gives valid UTF-8");
    }
  } else {
    check(size == 0, "non-empty UTF-8 input always converts");
  }
  if (const auto ansi = ansi_to_wide(bytes.data(), count)) check(!ansi->empty(), "ANSI conversion gives characters");

  // Wide to narrow on arbitrary UTF-16 units, lone surrogates included.
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  if (const auto narrow = wide_to_utf8(units.data(), static_cast<int>(units.size()))) {
    // Only a carried byte may leave something that is not UTF-8.
    if (!NAMES_ARE_BYTES || !fuzz::has_lone_surrogate(units)) {
      check(fuzz::is_valid_utf8(*narrow), "UTF-16 without carried bytes gives valid UTF-8");
    }
    check(narrow->size() <= units.size() * 3, "at most three bytes a unit");
  } else {
    check(units.empty(), "non-empty UTF-16 input always converts");
  }

  // The folder forms work on terminated text: up to the first NUL unit.
  const std::u16string path(units.c_str());
  check_folder_form(path, folder_path_backslash(path.c_str()), u'\\');
  check_folder_form(path, folder_path_slash(path.c_str()), u'/');
  return 0;
}
