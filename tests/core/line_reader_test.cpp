#include "platform/LineReader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

using Ends = LineReader::Ends;

class LineReaderTest : public test::ScratchWorkingDir {
 protected:
  // Every line of `bytes`, read in chunks of `chunkSize` so that line ends straddle reads.
  static std::vector<std::string> Lines(const std::string& bytes, Ends ends,
                                        std::size_t chunkSize) {
    test::WriteBytes("lines.txt", bytes);
    int err = 0;
    auto reader = LineReader::Open("lines.txt", ends, err, chunkSize);
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
    Ends ends;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::string longLine(100'000, 'x');
  const std::vector<Case> cases = {
      {Ends::kAny, "", {}},
      {Ends::kAny, "a", {"a"}},
      {Ends::kAny, "a\n", {"a"}},
      {Ends::kAny, "a\r\n", {"a"}},
      {Ends::kAny, "a\r", {"a"}},
      {Ends::kAny, "\n", {""}},
      {Ends::kAny, "ab\r\r\ncd", {"ab", "", "cd"}},
      {Ends::kAny, "ab\n\rcd\r\n\r\n", {"ab", "", "cd", ""}},
      {Ends::kAny, longLine + "\r\nend", {longLine, "end"}},
      {Ends::kCrOrCrLf, "", {}},
      {Ends::kCrOrCrLf, "a\nb\r", {"a\nb"}},
      {Ends::kCrOrCrLf, "a\r\nb\rc", {"a", "b", "c"}},
      {Ends::kCrOrCrLf, "\r\r", {"", ""}},
      {Ends::kCrOrCrLf, "a\n", {"a\n"}},
      {Ends::kCrOrCrLf, "\r\n\n", {"", "\n"}},
      {Ends::kCrOrCrLf, longLine + "\r" + longLine, {longLine, longLine}},
  };
  for (const std::size_t chunkSize : {1, 2, 3, 7, 65536}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "chunk " << chunkSize << ", bytes "
                                        << ::testing::PrintToString(c.bytes.substr(0, 12)));
      EXPECT_EQ(Lines(c.bytes, c.ends, chunkSize), c.lines);
    }
  }
}

TEST_F(LineReaderSplit, MissingFileAndFolderCannotBeOpened) {
  int err = 0;
  EXPECT_FALSE(LineReader::Open("missing.txt", Ends::kAny, err).has_value());
  EXPECT_EQ(err, ENOENT);
  std::filesystem::create_directory("folder");
  EXPECT_FALSE(LineReader::Open("folder", Ends::kAny, err).has_value());
  EXPECT_EQ(err, EISDIR);
}

}  // namespace
}  // namespace palisor
