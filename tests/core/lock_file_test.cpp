#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "platform/LockFile.h"
#include "support/TestServers.h"

namespace palisor {
namespace {

// Each release unlinks the file, so a taker that opened it just before may lock a file no
// longer named: unless it notices and takes the new one, two hold the lock at once.
TEST(LockFile, TwoTakersRacingOverUnlinkedFilesNeverHoldItTogether) {
  const test::ScratchDir dir;
  const auto path = dir / "run.lock";
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> taken{0};
  const auto take = [&] {
    for (int i = 0; i < 20'000; ++i) {
      bool busy = false;
      std::string error;
      const std::optional<LockFile> lock = LockFile::TryTake(path, busy, error);
      if (lock) {
        ++taken;
        if (++holders > 1) {
          ++overlaps;
        }
        std::this_thread::yield();
        --holders;
      }
    }
  };
  std::thread other(take);
  take();
  other.join();
  EXPECT_GT(taken, 1000);
  EXPECT_EQ(overlaps, 0);
}

}  // namespace
}  // namespace palisor
