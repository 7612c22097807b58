#pragma once
// The parts of the CGI environment block that do not depend on the server
// process itself, so that the block can be checked for any folder and TEMP.

#include "text/text_buffer.h"

#include <cstdint>

namespace zv {

// The block for the base folder and the TEMP value given (either may be
// null: the folder is then left out, TEMP is written empty).
int write_cgi_environment(WideTextBuffer& environment, const char16_t* base_folder, const char16_t* temp,
                          const char16_t* script_path, const char16_t* query, bool has_body,
                          std::int32_t content_length, const char16_t* content_type);

}  // namespace zv
