#include <gtest/gtest.h>

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

TEST(Paths, BackslashIsADirectorySeparator) {
  EXPECT_EQ(NativePath(".\\htaccess.txt"), "htaccess.txt");
  EXPECT_EQ(NativePath(".\\out\\site.txt"), "out/site.txt");
  EXPECT_EQ(NativePath("/var/www/.htaccess"), "/var/www/.htaccess");
}

}  // namespace
}  // namespace palisor
