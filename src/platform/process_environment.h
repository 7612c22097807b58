#pragma once
// The server process's own surroundings: its working directory (_wgetcwd)
// and its environment variables (_wgetenv).

#include <optional>
#include <string>

namespace zv {

// The current directory as it is, of any length, without a separator at its
// end except at the root; none when it cannot be read.
std::optional<std::u16string> current_directory();
// The value of `name` (matched without regard to case on Windows, exactly
// elsewhere); none when it is not set.
std::optional<std::u16string> environment_variable(const char16_t* name);

}  // namespace zv
