// A new user's first runs: settings still to fill in say where to fill them in, and --init
// writes the sample files, never over a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "support/TestServers.h"
#include "support/UpdateCommand.h"

namespace palisor::test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// What is still to fill in fails the run before any download, naming the dialog field and
// the key.
TEST(FirstRun, SettingsStillToFillSayWhereToFillThemIn) {
  ScratchDir lists;
  ScratchDir work;
  const HttpServer http(lists.path());
  lists.Write("jp.txt", "allow from 192.0.2.0/24\n");
  const std::string noUpload = "[FTP]\nFTPSW=0\n";
  const std::string japan = "[CNT]\nIPG_JP=1\nIPG_JP_URL1=" + http.Url("/jp.txt") + "\n";
  const struct {
    const char* name;
    std::string settings;
    std::string out;
    std::string error;
  } cases[] = {
      {"the default Anonymous list", noUpload + japan, "",
       "the Anonymous list has no address yet: set it in 設定 → リスト設定 (URL1 in palisor.ini)"},
      {"a country's deny list", noUpload + "[URL]\nMODE1=0\n[CNT]\nIPG_CN=2\n", "",
       "the China list has no address yet: set it in 設定 → リスト設定 (IPG_CN_URL2 in "
       "palisor.ini)"},
      {"the placeholder host written by hand",
       noUpload + "[URL]\nMODE1=0\nMODE3=1\nURL3= HTTPS://u@Lists.Palisor.Example:81/x\n", "",
       "the Squid list has no address yet"},
      {"no server with uploading on", "[FTP]\nFTPSW=1\n[URL]\nMODE1=0\n" + japan,
       "国別情報の取得中[日本]\n解析中\n送信中\n",
       "failed: no server is set: fill in 設定 → FTPサーバ (SVNAME in palisor.ini)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    work.Write("palisor.ini", c.settings);
    const Finished run = RunIn(work.path());
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
}

// --init writes the three sample files, the settings readable by their owner only, and writes
// none of them when any one exists.
TEST(FirstRun, InitWritesTheSampleFilesButNeverOverAFile) {
  const std::set<std::string> samples = {"add2htaccess.txt", "add2htaccess2.txt", "palisor.ini"};
  ScratchDir work;
  const Finished init = RunIn(work.path(), {"--init"});
  EXPECT_EQ(init.exitStatus, 0) << init.err;
  EXPECT_EQ(init.err, "");
  EXPECT_EQ(Listing(work.path()), samples);
  EXPECT_EQ(fs::status(work / "palisor.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  for (const std::string& taken : samples) {
    SCOPED_TRACE(taken);
    ScratchDir folder;
    folder.Write(taken, "mine\n");
    const Finished again = RunIn(folder.path(), {"--init"});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_EQ(again.err, "palisor-update: " + taken + " already exists in " +
                             fs::canonical(folder.path()).string() +
                             "; --init writes over no file, so none was written\n");
    EXPECT_EQ(Listing(folder.path()), std::set<std::string>{taken});
    EXPECT_EQ(ReadBytes(folder / taken), "mine\n");
  }
}

}  // namespace
}  // namespace palisor::test
