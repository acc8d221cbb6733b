#include "platform/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

namespace fs = std::filesystem;
using Request = CommandLine::Request;

TEST(CommandLine, OptionsOfBothPrograms) {
  struct Case {
    std::vector<std::string_view> arguments;
    Request request;
    std::optional<std::string> directory;
  };
  const Case cases[] = {
      {{}, Request::kStart, std::nullopt},
      {{"--dir", "site"}, Request::kStart, "site"},
      {{"--dir=~/site"}, Request::kStart, "~/site"},
      {{"--dir", "--help"}, Request::kStart, "--help"},  // the folder is taken as given
      {{"-h"}, Request::kHelp, std::nullopt},
      {{"--help", "--version"}, Request::kHelp, std::nullopt},
      {{"--version", "-h"}, Request::kVersion, std::nullopt},
      {{"--dir", "a", "--version"}, Request::kVersion, "a"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto line = ParseCommandLine(c.arguments, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->request, c.request);
    EXPECT_EQ(line->directory, c.directory);
  }
}

TEST(CommandLine, UsageErrorsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string_view> arguments;
    std::string_view error;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown argument '--bogus'"},
      {{""}, "unknown argument ''"},
      {{"palisor.ini"}, "unknown argument 'palisor.ini'"},
      {{"--help", "-x"}, "unknown argument '-x'"},  // help does not hide a mistake
      {{"--dir"}, "--dir needs a folder"},
      {{"--dir="}, "--dir needs a folder"},
      {{"--dir", ""}, "--dir needs a folder"},
      {{"--dir", "a", "--dir", "b"}, "--dir given twice"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseCommandLine(c.arguments, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(CommandLine, ALeadingTildeIsTheHomeFolder) {
  const char* saved = std::getenv("HOME");
  const std::string previous = saved != nullptr ? saved : "";
  ::setenv("HOME", "/home/site", 1);
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"~/palisor", "/home/site/palisor"},
      {"~", "/home/site"},
      {"~/", "/home/site/"},
      {"~other/x", "~other/x"},
      {"a/~/b", "a/~/b"},
      {"/srv/~", "/srv/~"},
  };
  for (const auto& [dir, expanded] : cases) {
    std::string error;
    EXPECT_EQ(ExpandHome(dir, error), expanded);
  }
  ::setenv("HOME", previous.c_str(), 1);
}

class EnterFolderTest : public test::ScratchWorkingDir {};

TEST_F(EnterFolderTest, AMissingFolderIsMadeWithItsParentsForTheUserOnly) {
  fs::create_directory("kept");
  fs::permissions("kept", fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read);
  std::string error;
  ASSERT_TRUE(EnterFolder("kept/new/deeper", error)) << error;
  EXPECT_EQ(fs::current_path(), dir() / "kept" / "new" / "deeper");
  for (const char* made : {"kept/new", "kept/new/deeper"}) {
    EXPECT_EQ(fs::status(dir() / made).permissions(), fs::perms::owner_all) << made;
  }
  EXPECT_EQ(fs::status(dir() / "kept").permissions(),
            fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read);

  ASSERT_TRUE(EnterFolder(dir().string(), error)) << error;  // an existing folder is entered
  EXPECT_EQ(fs::current_path(), dir());
}

}  // namespace
}  // namespace palisor
