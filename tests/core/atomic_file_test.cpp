#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

using test::FileNames;
using test::ReadBytes;
using test::WriteBytes;

using AtomicFileReplace = test::ScratchWorkingDir;

bool WriteWhole(const std::filesystem::path& target, std::string_view bytes, std::string& error) {
  auto file = AtomicFile::Open(target, error);
  return file && file->Write(bytes) && file->Commit(error);
}

TEST_F(AtomicFileReplace, LinksAreFollowedToTargetsThatMayNotExistYet) {
  std::filesystem::create_directory("site");
  std::filesystem::create_symlink("site/.htaccess", "dangling");
  std::filesystem::create_symlink("dangling", "chain");
  std::string error;
  ASSERT_TRUE(WriteWhole("chain", "new\n", error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink("chain"));
  EXPECT_TRUE(std::filesystem::is_symlink("dangling"));
  EXPECT_EQ(ReadBytes("site/.htaccess"), "new\n");
  EXPECT_EQ(FileNames("site"), std::vector<std::string>{".htaccess"});
}

TEST_F(AtomicFileReplace, UncommittedFileLeavesTheTargetAndNoTemporary) {
  WriteBytes("target", "old\n");
  {
    std::string error;
    auto file = AtomicFile::Open("target", error);
    ASSERT_TRUE(file.has_value()) << error;
    ASSERT_TRUE(file->Write(std::string(200'000, 'x')));  // more than one buffer's worth
  }
  EXPECT_EQ(ReadBytes("target"), "old\n");
  EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"target"});
}

TEST_F(AtomicFileReplace, EmptyPathOrFolderIsRefusedAndCreatesNothing) {
  std::filesystem::create_directory("folder");
  for (const char* target : {"", "folder"}) {
    SCOPED_TRACE(target);
    std::string error;
    EXPECT_FALSE(AtomicFile::Open(target, error).has_value());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"folder"});
    EXPECT_TRUE(FileNames("folder").empty());
  }
}

}  // namespace
}  // namespace palisor
