#pragma once
// The library kept in step with its folders' files: new files imported, a
// song whose file has gone moved aside (and brought back with its id when the
// file returns), a moved or renamed file's song renamed, with its counts.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv::librarian {

// A folder of the library, as song_dir holds it.
struct LibraryFolder {
  std::int32_t id = 0;
  std::u16string name;  // the platform's folder form, ending in its separator
  bool is_ads = false;
  bool is_jingle = false;
};

// What one look did.
struct LookResult {
  int added = 0;     // files imported
  int returned = 0;  // songs whose file came back
  int renamed = 0;   // songs whose file moved or was renamed
  int missing = 0;   // songs whose file went
  int changed = 0;   // files rewritten since the last look
};

// The library's folders; none when the library cannot be read.
std::optional<std::vector<LibraryFolder>> library_folders();

// The folders of `all` that hold any of `changed` (native folder paths).
std::vector<LibraryFolder> folders_holding(const std::vector<LibraryFolder>& all,
                                           const std::vector<std::u16string>& changed);

// Brings the library in step with the files of `folders`, looked at together
// so that a file moved from one to another keeps its song.
LookResult look(const std::vector<LibraryFolder>& folders);

// Indexes the songs whose name or tags changed (noted in song_search_pending
// by the library's triggers, whoever changed them) for the pages' search, in
// batches, so a search seldom has any to index itself.
void index_for_search();

// Records the look in the library for the pages: when it ended and what it did.
void record_look(const LookResult& result, bool full);

}  // namespace zv::librarian
