#pragma once
// Lists a folder (optionally its whole tree) into the form body as dir[] and
// file[] fields, narrating every entry on the console.

#include "text/text_buffer.h"

namespace zv {

inline constexpr unsigned LIST_FOLDERS = 1;
inline constexpr unsigned LIST_FILES = 2;
inline constexpr unsigned LIST_RECURSE = 4;
inline constexpr unsigned LIST_FULL_PATH = 8;

int list_folder(FormBody* body, const char16_t* base_folder, const char16_t* first_sub_path,
                const char16_t* second_sub_path, const char16_t* pattern, unsigned flags,
                const char* folder_field, const char* file_field);

}  // namespace zv
