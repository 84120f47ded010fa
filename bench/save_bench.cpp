// Save benchmark: the time one save of a sprite file takes, as the median of many saves over
// the same file, in a folder given on the command line (a tmpfs and a disk folder tell apart
// the cost of the writing itself and of syncing it to the disk).
//
// usage: save_bench FOLDER [SAVES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "sprite/file.h"
#include "sprite/rows.h"

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[at];
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: save_bench FOLDER [SAVES]\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const int saves = argc == 3 ? std::max(1, std::atoi(argv[2])) : 1000;
  const std::string path = (folder / "ball.txt").string();

  kavoni::SpriteGrid grid{};
  for (int cell : {27, 28, 35, 36}) {
    grid[static_cast<std::size_t>(cell)] = true;
  }
  const kavoni::SpriteRows rows = kavoni::EncodeRows(grid);

  std::vector<double> microseconds;
  microseconds.reserve(static_cast<std::size_t>(saves));
  try {
    for (int save = 0; save < saves; ++save) {
      const Clock::time_point start = Clock::now();
      kavoni::SpriteTextFile file(path);
      file.WriteLine("ball");
      for (const std::string& row : rows) {
        file.WriteLine(row);
      }
      file.Close();
      const std::chrono::duration<double, std::micro> elapsed = Clock::now() - start;
      microseconds.push_back(elapsed.count());
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "save_bench: %s\n", error.what());
    return 1;
  }
  std::filesystem::remove(path);
  std::printf("%s: %d saves, median %.1f us, 90th percentile %.1f us\n", argv[1], saves,
              Percentile(microseconds, 0.5), Percentile(microseconds, 0.9));
  return 0;
}
