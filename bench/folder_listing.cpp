// Recursive listing of a music tree as the "dir" parameter with "recursive"
// asks for it: 100 folders of 100 files, the narration going to /dev/null as
// it would to a redirected console. Reports entries per second and the size
// of the form body the script receives.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "hostinfo/folder_listing.h"
#include "text/encoding.h"

namespace {

namespace fs = std::filesystem;

constexpr int FOLDERS = 100;
constexpr int FILES_PER_FOLDER = 100;

const fs::path& music_tree() {
  static const fs::path root = [] {
    const fs::path music = fs::temp_directory_path() / "zv-bench-listing";
    fs::remove_all(music);
    for (int f = 0; f < FOLDERS; ++f) {
      const fs::path folder = music / ("Artist " + std::to_string(f));
      fs::create_directories(folder);
      for (int s = 0; s < FILES_PER_FOLDER; ++s) std::ofstream(folder / ("Song & Title " + std::to_string(s) + ".mp3"));
    }
    return music;
  }();
  return root;
}

void BM_RecursiveListing(benchmark::State& state) {
  const std::u16string base = *zv::folder_path_native(music_tree().u16string().c_str());
  // The narration goes to /dev/null while the listing runs, the report to the console after.
  std::fflush(stdout);
  const int console = ::dup(1);
  const int null_device = ::open("/dev/null", O_WRONLY);
  ::dup2(null_device, 1);
  std::size_t body_bytes = 0;
  for (auto _ : state) {
    zv::FormBody body;
    zv::list_folder(&body, base.c_str(), u"", u"", u"*.*",
                    zv::LIST_FOLDERS | zv::LIST_FILES | zv::LIST_RECURSE | zv::LIST_FULL_PATH, "dir", "file");
    body_bytes = body.length();
    benchmark::DoNotOptimize(body.data());
  }
  std::fflush(stdout);
  ::dup2(console, 1);
  ::close(console);
  ::close(null_device);
  state.SetItemsProcessed(state.iterations() * FOLDERS * (FILES_PER_FOLDER + 1));
  state.counters["body_bytes"] = static_cast<double>(body_bytes);
}
BENCHMARK(BM_RecursiveListing)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
