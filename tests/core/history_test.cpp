#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/ScratchWorkingDir.h"
#include "update/History.h"

namespace palisor {
namespace {

class HistoryTest : public test::ScratchWorkingDir {};

// The most recent versions stay, each once, in a folder only the user may enter.
TEST_F(HistoryTest, KeepsTheLastVersionsOnceEachAndPrivately) {
  History history("ftp://h/public_html/.htaccess");
  const auto start = std::chrono::system_clock::now();
  for (std::size_t i = 0; i < kHistoryKept + 2; ++i) {
    ASSERT_TRUE(
        history.Keep("version " + std::to_string(i) + "\n", start + std::chrono::seconds(i)).ok());
  }
  ASSERT_TRUE(history.Keep("version 21\n", start + std::chrono::hours(1)).ok());
  const auto versions = history.Versions();
  ASSERT_TRUE(versions.ok()) << versions.error;
  ASSERT_EQ(versions.value.size(), kHistoryKept);
  EXPECT_EQ(History::Read(versions.value.front()).value, "version 21\n");
  EXPECT_EQ(History::Read(versions.value.back()).value, "version 2\n");
  EXPECT_EQ(versions.value.front().lines, 1u);
  const auto folderMode = std::filesystem::status(kHistoryFolder).permissions();
  EXPECT_EQ(folderMode & std::filesystem::perms::all, std::filesystem::perms::owner_all);
  EXPECT_EQ(std::filesystem::status(versions.value.front().file).permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace palisor
