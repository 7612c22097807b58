// station-librarian: follows every folder of the station's library, so that
// a file added to one is in the library within seconds, a file removed
// leaves rotation, and a file moved keeps its song. A program of its own, so
// that a long look at the folders never holds up what plays.
//
// Run in the server's folder (where base2.mdb is), as the server is.

#include <chrono>
#include <vector>

#include "library_follower.h"
#include "platform/console.h"
#include "platform/folder_watch.h"

namespace {

using Clock = std::chrono::steady_clock;

// What a watch can miss (a network share, changes while nothing ran) is found
// by a full look at start and then this often.
constexpr std::chrono::hours FULL_LOOK_EVERY{1};
// How often the library is asked for folders imported since.
constexpr std::chrono::seconds FOLDERS_EVERY{5};

void report(const zv::librarian::LookResult& r, bool full) {
  zv::narrate("Librarian: %s look: %d files added, %d back, %d moved, %d missing, %d written again\n",
              full ? "full" : "quick", r.added, r.returned, r.renamed, r.missing, r.changed);
  zv::librarian::record_look(r, full);
}

}  // namespace

int main() {
  namespace lib = zv::librarian;
  zv::console_setup();
  zv::FolderWatch watch;
  if (!watch.available())
    zv::narrate("Librarian: this system offers no folder watch; only the hourly look finds changes\n");
  zv::narrate("Librarian: following the library's folders\n");
  auto next_full = Clock::now();
  bool readable = true;
  for (;;) {
    const auto found = lib::library_folders();
    if (!found) {
      // Said once, not every few seconds while it lasts.
      if (readable) zv::narrate("Librarian: the library cannot be read; it is asked again every 5 s\n");
      readable = false;
      watch.wait(FOLDERS_EVERY);
      continue;
    }
    readable = true;
    const std::vector<lib::LibraryFolder>& folders = *found;
    for (const lib::LibraryFolder& folder : folders) watch.follow(folder.name);
    if (Clock::now() >= next_full) {
      report(lib::look(folders), true);
      next_full = Clock::now() + FULL_LOOK_EVERY;
    }
    lib::index_for_search();
    const zv::FolderChanges changes = watch.wait(FOLDERS_EVERY);
    if (changes.lost) {
      next_full = Clock::now();  // the watch lost track: look at everything
    } else if (!changes.folders.empty()) {
      report(lib::look(lib::folders_holding(folders, changes.folders)), false);
    }
  }
}
