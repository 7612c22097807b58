#include "player_window/protocol.h"

#include <cstring>

#include "text/encoding.h"

namespace zv {

std::string copy_data_text(const CopyData& message) {
  if (!message.data) return {};
  std::u16string text(message.cb_data / sizeof(char16_t), u'\0');
  std::memcpy(text.data(), message.data, text.size() * sizeof(char16_t));
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return wide_to_utf8(text.c_str(), -1).value_or(std::string());
}

}  // namespace zv
