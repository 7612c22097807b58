#pragma once
// Registers a music folder and its ".mp3" and ".wav" files in the library.

#include <cstdint>
#include <string>

#include "text/text_buffer.h"

namespace zv {

// `folder` as the handler normalised it; `is_ads` and `is_jingle` are the raw
// request values (a value whose first character is '1' sets the mark). Any
// may be null. Walks the folder's tree, registers the folder (or updates its
// marks), adds the audio files the library does not know, gives songs of no
// folder to this one, and writes the lists of found files to "out.txt".
void import_music_folder(const char16_t* folder, const char16_t* is_ads, const char16_t* is_jingle);

// Appends to `list` the entries of root + relative_path + child_folder that
// match `flags` (LIST_* of the folder listing) and, for files, end in
// `extension` exactly (null or empty: any file), each followed by LF. Prints
// every entry it meets. Never enters a sub-folder whose name has '.' as its
// first or second character, nor a folder it is already inside (a link back
// up the tree). Always returns 0.
int scan_folder_files(WideTextBuffer* list, const char16_t* root, const char16_t* relative_path,
                      const char16_t* child_folder, const char16_t* pattern, unsigned flags,
                      const char16_t* extension);

// A file or folder whose name (`folder` + `name`) holds LF or CR would split
// an entry of the import's lists, so it is not imported: the console says so
// in one line and this returns true.
bool refuse_line_break(const char16_t* folder, const std::u16string& name);

// `text` with every apostrophe doubled, for a quoted SQL value. Returns
// `text` itself when it holds none; otherwise the result is written into the
// caller's reusable `buffer` and is valid until the next call with it. Null
// for null text.
const char16_t* sql_escape_quotes(const char16_t* text, std::u16string& buffer);

// Background colour of a folder by its dir_order (red in the low byte).
std::int32_t folder_background(std::int32_t dir_order);

}  // namespace zv
