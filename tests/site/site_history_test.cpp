// The site owner's own .htaccess through palisor-update against a real Apache: refused until
// OTHERLINES says what to do, kept around Palisor's block, left alone when unchanged, looked
// at without a change, and put back from the history.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "support/ApacheServer.h"
#include "support/TestServers.h"
#include "support/UpdateCommand.h"

namespace palisor::test {
namespace {

namespace fs = std::filesystem;

const std::string kOwners = "# DO NOT LOSE\ndeny from 127.0.0.3\n";

// Every file below `dir` with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), dir).string()] = ReadBytes(entry.path());
    }
  }
  return files;
}

TEST(SiteHistory, TheOwnersFileIsNeverLostAndComesBackWhole) {
  ApacheServer apache;
  ScratchDir listRoot;
  HttpServer lists(listRoot.path());
  FtpServer ftp(apache.docroot(), "site", "pw");
  const fs::path live = apache.docroot() / ".htaccess";
  ScratchDir work;
  listRoot.Write("p.txt", "127.0.0.2\n");
  std::ofstream(live, std::ios::binary) << kOwners;
  const auto settings = [&](const std::string& more) {
    work.Write("palisor.ini", "[FTP]\nSVNAME=" + ftp.Address() +
                                  "\nSVUSER=site\nSVPSWD=pw\nSVPATH=\nFTPSW=-1\n" + more +
                                  "[URL]\nMODE1=-1\nURL1=" + lists.Url("/p.txt") + "\n");
  };
  settings("");
  const auto status = [&apache](const char* source) { return StatusFrom(apache.Url("/"), source); };

  Finished run = RunIn(work.path());
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.err.find("2 lines of its own"), std::string::npos) << run.err;
  EXPECT_EQ(ReadBytes(live), kOwners);

  const auto before = FilesBelow(work.path());
  const auto served = FilesBelow(apache.docroot());
  run = RunIn(work.path(), {"--dry-run"});
  EXPECT_EQ(run.exitStatus, 1) << "a run would ask";
  EXPECT_NE(run.out.find("so a run would ask"), std::string::npos) << run.out;
  auto after = FilesBelow(work.path());
  EXPECT_EQ(after.erase("htaccess.preview.txt"), 1u);
  EXPECT_EQ(after, before);
  EXPECT_EQ(FilesBelow(apache.docroot()), served);

  settings("OTHERLINES=keep\n");
  run = RunIn(work.path());
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(ReadBytes(live), "# BEGIN Palisor\ndeny from 127.0.0.2\n# END Palisor\n" + kOwners);
  EXPECT_EQ(status("127.0.0.2"), 403);
  EXPECT_EQ(status("127.0.0.3"), 403);

  listRoot.Write("p.txt", "127.0.0.4\n");
  ASSERT_EQ(RunIn(work.path()).exitStatus, 0);
  EXPECT_EQ(ReadBytes(live), "# BEGIN Palisor\ndeny from 127.0.0.4\n# END Palisor\n" + kOwners);
  const fs::file_time_type stamp = fs::last_write_time(live);
  run = RunIn(work.path());
  EXPECT_NE(run.out.find("unchanged"), std::string::npos) << run.out;
  EXPECT_EQ(fs::last_write_time(live), stamp);

  run = RunIn(work.path(), {"--history"});
  EXPECT_NE(run.out.find("\n2  "), std::string::npos) << run.out;
  run = RunIn(work.path(), {"--restore", "2"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(ReadBytes(live), kOwners);
  EXPECT_EQ(status("127.0.0.2"), 200);
  EXPECT_EQ(status("127.0.0.3"), 403);
}

}  // namespace
}  // namespace palisor::test
