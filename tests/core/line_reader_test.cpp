#include "platform/LineReader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

class LineReaderTest : public test::ScratchWorkingDir {
 protected:
  // Every line of `bytes`, read in chunks of `chunkSize` so that line ends straddle reads.
  static std::vector<std::string> Lines(const std::string& bytes, std::size_t chunkSize) {
    test::WriteBytes("lines.txt", bytes);
    int err = 0;
    auto reader = LineReader::Open("lines.txt", err, chunkSize);
    EXPECT_TRUE(reader.has_value()) << err;
    std::vector<std::string> lines;
    std::string_view line;
    while (reader && reader->Next(line) == LineReader::Result::kLine) {
      lines.emplace_back(line);
    }
    return lines;
  }
};

using LineReaderSplit = LineReaderTest;

TEST_F(LineReaderSplit, EveryChunkSizeGivesTheSameLines) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::string longLine(100'000, 'x');
  const std::vector<Case> cases = {
      {"", {}},
      {"a\nb\r", {"a\nb"}},
      {"a\r\nb\rc", {"a", "b", "c"}},
      {"\r\r", {"", ""}},
      {"a\n", {"a\n"}},
      {"\r\n\n", {"", "\n"}},
      {longLine + "\r" + longLine, {longLine, longLine}},
  };
  for (const std::size_t chunkSize : {1, 2, 3, 7, 65536}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "chunk " << chunkSize << ", bytes "
                                        << ::testing::PrintToString(c.bytes.substr(0, 12)));
      EXPECT_EQ(Lines(c.bytes, chunkSize), c.lines);
    }
  }
}

TEST_F(LineReaderSplit, MissingFileAndFolderCannotBeOpened) {
  int err = 0;
  EXPECT_FALSE(LineReader::Open("missing.txt", err).has_value());
  EXPECT_EQ(err, ENOENT);
  std::filesystem::create_directory("folder");
  EXPECT_FALSE(LineReader::Open("folder", err).has_value());
  EXPECT_EQ(err, EISDIR);
}

}  // namespace
}  // namespace palisor
