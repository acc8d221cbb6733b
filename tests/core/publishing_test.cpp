// The publishing policy against a scripted server: every way a step can go wrong, and what
// the site is left with afterwards.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/ScratchWorkingDir.h"
#include "support/ScriptedSession.h"
#include "update/Publishing.h"

namespace palisor {
namespace {

using test::ScriptedSession;
using Fault = ScriptedSession::Fault;

const std::string kOld = "deny from 192.0.2.1\n";
const std::string kNew = "deny from 198.51.100.7\n";
const std::string kLive = ".htaccess";
const std::string kNewName = ".htpalisor-.htaccess.new";
const std::string kOldName = ".htpalisor-.htaccess.old";
const std::string kIntoPlace = "rename " + kNewName + " " + kLive;
const std::string kAside = "rename " + kLive + " " + kOldName;
const std::string kBack = "rename " + kOldName + " " + kLive;

struct Row {
  const char* name;
  ScriptedSession::Script script;
  std::map<std::string, std::string> before = {{kLive, kOld}};  // the server's files
  std::vector<long> site = {};  // what CHECKURL answers, before and after; empty: no CHECKURL
  Outcome outcome = Outcome::kOk;
  std::vector<std::string> reason = {};  // parts of the error, in order
  std::map<std::string, std::string> after = {{kLive, kNew}};
  OtherLines rule = OtherLines::kReplace;
  bool kept = true;  // the live file of `before`, when there is one, is in the history
};

// `parts` appear in `text` in this order.
bool HoldsInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t from = 0;
  for (const std::string& part : parts) {
    from = text.find(part, from);
    if (from == std::string::npos) {
      return false;
    }
    from += part.size();
  }
  return true;
}

class Publishing : public test::ScratchWorkingDir {};

TEST_F(Publishing, EveryStepThatGoesWrongLeavesTheSiteWithAFileOrSaysWhereItIs) {
  const ScriptedSession::Script renamesOver;
  const ScriptedSession::Script twoSteps{.renamesOverFiles = false, .troubles = {}};
  const auto twoStepsAnd = [](std::vector<ScriptedSession::Trouble> troubles) {
    return ScriptedSession::Script{.renamesOverFiles = false, .troubles = std::move(troubles)};
  };
  const auto troubled = [](std::vector<ScriptedSession::Trouble> troubles) {
    return ScriptedSession::Script{.troubles = std::move(troubles)};
  };
  const Row rows[] = {
      {"renamed over the live file", renamesOver},
      {"no file before", renamesOver, {}},
      {"two steps", twoSteps},
      {"two steps over a leftover of an ended run", twoSteps, {{kLive, kOld}, {kOldName, "x"}}},
      {"two steps, the rename into place refused: the old file moved back",
       twoStepsAnd({{kIntoPlace, 2}}),
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"upload of htaccess.txt to ftp://h/public_html/.htaccess failed: 550 Permission denied"},
       {{kLive, kOld}}},
      {"two steps, the server gone after the live file was moved aside: nothing deleted",
       twoStepsAnd({{kIntoPlace, 2, Fault::kGone}}),
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"Connection died; the site is perhaps left without /public_html/.htaccess: the previous "
        "file may wait as /public_html/" +
        kOldName + " and the new one as /public_html/" + kNewName},
       {{kOldName, kOld}, {kNewName, kNew}}},
      {"two steps, the rename into place and the move back refused: the new one put in place",
       twoStepsAnd({{kIntoPlace, 2}, {kBack}}),
       {{kLive, kOld}},
       {},
       Outcome::kOk},
      {"two steps, every way back refused: the site is left without its file",
       twoStepsAnd({{kIntoPlace, 2}, {kBack}, {kIntoPlace, 3}}),
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"550 Permission denied", "; the site is left without /public_html/.htaccess",
        "waits as /public_html/" + kOldName},
       {{kOldName, kOld}, {kNewName, kNew}}},
      {"two steps, the program ended during the rename into place",
       twoStepsAnd({{kIntoPlace, 2, Fault::kStopped}}),
       {{kLive, kOld}},
       {},
       Outcome::kAbandoned,
       {},
       {{kLive, kOld}}},
      {"the server gone during the rename over the live file",
       troubled({{kIntoPlace, 1, Fault::kGone}}),
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"failed: Connection"},
       {{kLive, kOld}, {kNewName, kNew}}},
      {"two steps, the move aside refused",
       twoStepsAnd({{kAside}}),
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"failed: 550 Permission denied"},
       {{kLive, kOld}}},
      {"a listing without hidden names: the old file moved back all the same",
       {.renamesOverFiles = false, .listsHiddenNames = false, .troubles = {{kIntoPlace, 2}}},
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"550 Permission denied"},
       {{kLive, kOld}}},
      {"the login refused",
       {.refusesLogin = true, .troubles = {}},
       {{kLive, kOld}},
       {200, 200},
       Outcome::kFailed,
       {"upload of htaccess.txt to ftp://h/public_html/.htaccess failed: 530 Login incorrect."},
       {{kLive, kOld}},
       OtherLines::kReplace,
       false},
      {"the server gone while storing",
       troubled({{"store " + kNewName, 1, Fault::kGone}}),
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"failed: Connection died"},
       {{kLive, kOld}}},
      {"checked in two steps: the previous file put back",
       twoSteps,
       {{kLive, kOld}},
       {200, 503},
       Outcome::kFailed,
       {"the site answered 503 with the new file; the previous file was put back"},
       {{kLive, kOld}}},
      {"checked: putting the previous file back refused",
       troubled({{"store " + kNewName, 2}}),
       {{kLive, kOld}},
       {200, 500},
       Outcome::kFailed,
       {"the site answered 500 with the new file; putting the previous file back failed: upload "
        "of the previous file to ftp://h/public_html/.htaccess failed: 550 Permission denied"}},
      {"checked: the listing shows there was no file, so the new one is removed",
       renamesOver,
       {},
       {200, 500},
       Outcome::kFailed,
       {"the site answered 500 with the new file; the new file was removed, as there was none "
        "before"},
       {}},
      {"checked: SFTP says there was no file",
       {.listsHiddenNames = false, .saysNoSuchFile = true, .troubles = {}},
       {},
       {200, 500},
       Outcome::kFailed,
       {"the new file was removed, as there was none before"},
       {}},
      {"a live file listed but unreadable cannot be kept, so it stays",
       troubled({{"read " + kLive}}),
       {{kLive, kOld}},
       {200, 500},
       Outcome::kFailed,
       {"the live file cannot be read, so it could not be kept and was not replaced: 550 "
        "Permission denied"},
       {{kLive, kOld}},
       OtherLines::kReplace,
       false},
      {"the live file holds the new bytes already: nothing is sent",
       renamesOver,
       {{kLive, kNew}},
       {200, 500},
       Outcome::kOk,
       {},
       {{kLive, kNew}},
       OtherLines::kAsk,
       false},
      {"lines of the owner's, OTHERLINES not set: refused before anything is sent",
       renamesOver,
       {{kLive, kOld}},
       {},
       Outcome::kFailed,
       {"holds 1 line of its own", "\"deny from 192.0.2.1\"", "kept as palisor.history/",
        "OTHERLINES"},
       {{kLive, kOld}},
       OtherLines::kAsk},
      {"lines of the owner's, OTHERLINES=keep: Palisor's block goes above them",
       renamesOver,
       {{kLive, kOld}},
       {},
       Outcome::kOk,
       {},
       {{kLive, "# BEGIN Palisor\n" + kNew + "# END Palisor\n" + kOld}},
       OtherLines::kKeep},
      {"checked: a listing without hidden names is no proof of no file",
       {.listsHiddenNames = false, .troubles = {}},
       {},
       {200, 500},
       Outcome::kFailed,
       {"it stays, as the previous file could not be read"},
       {{kLive, kNew}}},
      {"checked: removing the new file refused",
       troubled({{"delete " + kLive}}),
       {},
       {200, 500},
       Outcome::kFailed,
       {"the site answered 500 with the new file; removing it failed: deleting "
        "ftp://h/public_html/.htaccess failed: 550 Permission denied"}},
      {"checked: the program ended while reading the previous file",
       troubled({{"read " + kLive, 1, Fault::kStopped}}),
       {{kLive, kOld}},
       {200, 500},
       Outcome::kAbandoned,
       {},
       {{kLive, kOld}},
       OtherLines::kReplace,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedSession server(row.script, "/public_html");
    server.files = row.before;
    std::vector<long> answers = row.site;
    SiteCheck check;
    if (!answers.empty()) {
      check = [&answers](const KeepGoing&) {
        if (answers.empty()) {
          return Result<long>::Failed("no answer");
        }
        const long status = answers.front();
        answers.erase(answers.begin());
        return Result<long>::Ok(status);
      };
    }
    std::vector<std::string> warnings;
    Publication publication{
        {"/public_html", kLive}, "ftp://h/public_html/.htaccess", "htaccess.txt", kNew};
    publication.otherLines = row.rule;
    History history(std::string(row.name));

    const Result<Published> result =
        Publish(publication, server, history, check, warnings, KeepGoing{});

    EXPECT_EQ(result.outcome, row.outcome) << result.error;
    EXPECT_TRUE(HoldsInOrder(result.error, row.reason)) << result.error;
    EXPECT_EQ(server.files, row.after);
    const auto kept = history.Versions();
    ASSERT_TRUE(kept.ok());
    const bool keptLive = row.kept && row.before.contains(kLive);
    EXPECT_EQ(kept.value.size(), keptLive ? 1u : 0u);
    if (keptLive) {
      EXPECT_EQ(History::Read(kept.value.front()).value, row.before.at(kLive));
    }
    // What went is remembered as Palisor's own, so that the next run tells it from the owner's.
    const auto published = history.LastPublished();
    EXPECT_EQ(published.value, result.ok() ? std::optional(kNew) : std::nullopt);
    if (row.script.refusesLogin) {
      EXPECT_EQ(server.log, std::vector<std::string>{"connect"});
    }
  }
}

}  // namespace
}  // namespace palisor
