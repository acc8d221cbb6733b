// What replaces the site's file: the site owner's own lines found, kept around Palisor's
// block, replaced, or the reason to ask.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "update/LiveFile.h"

namespace palisor {
namespace {

const std::string kGenerated = "deny from 1.2.3.4\n";
const std::string kBlock = "# BEGIN Palisor\n" + kGenerated + "# END Palisor\n";
const std::string kOwners = "RewriteEngine On\n# DO NOT LOSE\n";

TEST(ComposeUpload, TheOwnersLinesAreKeptReplacedOrAskedAbout) {
  struct Row {
    const char* name;
    std::optional<std::string> live;
    std::optional<std::string> published;
    OtherLines rule;
    std::string bytes;  // what goes; empty when nothing may
    std::vector<std::string> ownerLines;
  };
  const std::vector<std::string> owners = {"RewriteEngine On", "# DO NOT LOSE"};
  const Row rows[] = {
      {"no live file", std::nullopt, std::nullopt, OtherLines::kAsk, kGenerated, {}},
      {"what Palisor published last",
       "deny from 9.9.9.9\n\n",
       "deny from 9.9.9.9\n",
       OtherLines::kAsk,
       kGenerated,
       {}},
      {"a foreign file, not asked", kOwners, std::nullopt, OtherLines::kAsk, "", owners},
      {"a foreign file, replaced", kOwners, std::nullopt, OtherLines::kReplace, kGenerated, owners},
      {"a foreign file, kept: the block goes on top", kOwners, std::nullopt, OtherLines::kKeep,
       kBlock + kOwners, owners},
      {"a block replaced in place, CR LF and all around it",
       "A\r\n# BEGIN Palisor\r\nold\r\n# END Palisor \r\nB\r\n",
       std::nullopt,
       OtherLines::kKeep,
       "A\r\n" + kBlock + "B\r\n",
       {"A", "B"}},
      {"a hand edit after Palisor's own lines",
       "deny from 9.9.9.9\nOrder deny,allow\n",
       "deny from 9.9.9.9\n",
       OtherLines::kAsk,
       "",
       {"Order deny,allow"}},
      {"nothing foreign, kept: the block alone",
       "deny from 9.9.9.9\n",
       "deny from 9.9.9.9\n",
       OtherLines::kKeep,
       kBlock,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Result<Composed> composed =
        ComposeUpload(row.live, row.published, kGenerated, row.rule, "\n");
    ASSERT_TRUE(composed.ok()) << composed.error;
    EXPECT_EQ(composed.value.mustAsk, row.bytes.empty());
    EXPECT_EQ(composed.value.bytes, row.bytes);
    EXPECT_EQ(composed.value.ownerLines, row.ownerLines);
  }
  const Result<Composed> broken =
      ComposeUpload("# BEGIN Palisor\nmine\n", std::nullopt, kGenerated, OtherLines::kKeep, "\n");
  EXPECT_FALSE(broken.ok());
  EXPECT_NE(broken.error.find("# END Palisor"), std::string::npos) << broken.error;
}

TEST(CompareLines, CountsWhatIsAddedAndRemovedAndShowsTheFirst) {
  const LineChanges changes = CompareLines("a\nb\nc\n", "b\nd\ne\nf\n", 2);
  EXPECT_EQ(changes.added, (std::vector<std::string>{"d", "e"}));
  EXPECT_EQ(changes.addedCount, 3u);
  EXPECT_EQ(changes.removed, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(changes.removedCount, 2u);
}

}  // namespace
}  // namespace palisor
