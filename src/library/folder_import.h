#pragma once
// Registers a music folder and its ".mp3" and ".wav" files in the library.

namespace zv {

// `folder` as the handler normalised it; `is_ads` and `is_jingle` may be null.
void import_music_folder(const char16_t* folder, const char16_t* is_ads, const char16_t* is_jingle);

}  // namespace zv
