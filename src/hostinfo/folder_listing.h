#pragma once
// Lists a folder (optionally its whole tree) into the form body as dir[] and
// file[] fields, narrating every entry on the console.

#include "text/text_buffer.h"

namespace zv {

// Listing flags, shared with the folder scan of the music import.
inline constexpr unsigned LIST_FOLDERS = 1;    // a field for each sub-folder
inline constexpr unsigned LIST_FILES = 2;      // a field for each file
inline constexpr unsigned LIST_RECURSE = 4;    // descend into each sub-folder that is not skipped
inline constexpr unsigned LIST_FULL_PATH = 8;  // the folder path, slash form, before each name

// Lists base_folder + first_sub_path + second_sub_path (each piece ends in a
// separator) with the search pattern, in the file system's order. Field values
// are percent-encoded; a recursion's fields follow their folder's own field.
// A folder that cannot be opened adds nothing. Always returns 0.
int list_folder(FormBody* body, const char16_t* base_folder, const char16_t* first_sub_path,
                const char16_t* second_sub_path, const char16_t* pattern, unsigned flags,
                const char* folder_field, const char* file_field);

}  // namespace zv
