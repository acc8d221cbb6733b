#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/Paths.h"
#include "platform/Text.h"

namespace palisor {
namespace {

TEST(Text, TrimSpacesKeepsTabsTrimBlanksDoesNot) {
  EXPECT_EQ(TrimSpaces("  \t1.2.3.4\t  "), "\t1.2.3.4\t");
  EXPECT_EQ(TrimBlanks("  \t1.2.3.4\t  "), "1.2.3.4");
  EXPECT_EQ(TrimSpaces("    "), "");
  EXPECT_TRUE(IsBlank("   "));
  EXPECT_FALSE(IsBlank(" \t "));
}

// A body grows in pieces; its room follows, doubling, but never past the limit, and a piece
// that would pass the limit is refused whole.
TEST(Text, AppendWithinNeverMakesRoomPastTheLimit) {
  const struct {
    std::size_t piece;
    std::size_t limit;
  } cases[] = {{1, 1000}, {16384, 1'000'000}, {3, 4096}, {999, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    std::string body;
    const std::string piece(c.piece, 'x');
    std::size_t appended = 0;
    while (AppendWithin(body, piece, c.limit) == Appended::kOk) {
      appended += c.piece;
      EXPECT_LE(body.capacity(), std::max(c.limit, std::string().capacity()));
    }
    EXPECT_EQ(body.size(), appended);
    EXPECT_GT(appended + c.piece, c.limit);
  }
}

TEST(Paths, BackslashIsADirectorySeparator) {
  EXPECT_EQ(NativePath(".\\htaccess.txt"), "htaccess.txt");
  EXPECT_EQ(NativePath(".\\out\\site.txt"), "out/site.txt");
  EXPECT_EQ(NativePath("/var/www/.htaccess"), "/var/www/.htaccess");
}

}  // namespace
}  // namespace palisor
