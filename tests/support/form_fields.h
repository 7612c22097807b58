#pragma once
// Reads a form body the way the interpreter does: fields split at "&", each
// into its name and its percent-decoded value ("+" is a space).

#include <string>
#include <utility>
#include <vector>

namespace zv::test {

using FormField = std::pair<std::string, std::string>;

inline std::string form_decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

inline std::vector<FormField> form_fields(const std::string& body) {
  std::vector<FormField> fields;
  std::size_t start = 0;
  while (start < body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string field = body.substr(start, end - start);
    const std::size_t equals = field.find('=');
    fields.emplace_back(field.substr(0, equals),
                        equals == std::string::npos ? std::string() : form_decode(field.substr(equals + 1)));
    start = end + 1;
  }
  return fields;
}

}  // namespace zv::test
