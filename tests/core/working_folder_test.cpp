// What a palisor-update run does with the files of its working folder when someone else put a
// link, a FIFO or a file of theirs in their place, and with the folder itself: whole runs of
// the command against servers on 127.0.0.1. The tests run as root here, so a file of another
// user's is one given to nobody; without root those cases are skipped.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"
#include "support/UpdateCommand.h"

namespace palisor::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr std::string_view kPrecious = "precious\n";
constexpr const char* kUser = "site";
constexpr const char* kPassword = "pw";

bool IsRoot() {
  return ::geteuid() == 0;
}

struct stat LinkStatus(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

class WorkingFolder : public ::testing::Test {
 protected:
  void SetUp() override { lists.Write("proxy.txt", "192.0.2.1\n# a header line\n"); }

  // Settings for one list and, when `server` is given, an upload to it.
  std::string Settings(std::string_view server = "", std::string_view extraFtp = "") const {
    std::string ini = "[FTP]\nFTPSW=0\n";
    if (!server.empty()) {
      ini = "[FTP]\nFTPSW=-1\nSVNAME=" + std::string(server) + "\nSVUSER=" + kUser +
            "\nSVPSWD=" + kPassword + "\nSVPATH=/\n";
    }
    return ini + std::string(extraFtp) + "[URL]\nURL1=" + http.Url("/proxy.txt") + "\nMODE1=-1\n";
  }

  ScratchDir lists;
  ScratchDir elsewhere;
  ScratchDir sftpHome;
  ScratchDir keys;
  HttpServer http{lists.path()};
};

enum class Planted { kLink, kFifo, kForeignFile };

// What was put in the file's place is there as it was: a link still leading to an untouched
// file, a FIFO still a FIFO, the foreign file with its owner, mode and bytes.
void ExpectLeftAlone(Planted planted, const fs::path& path, const fs::path& victim) {
  const struct stat info = LinkStatus(path);
  switch (planted) {
    case Planted::kLink:
      EXPECT_TRUE(S_ISLNK(info.st_mode));
      EXPECT_EQ(ReadBytes(victim), kPrecious);
      return;
    case Planted::kFifo:
      EXPECT_TRUE(S_ISFIFO(info.st_mode));
      return;
    case Planted::kForeignFile:
      break;
  }
  EXPECT_EQ(info.st_uid, kNobody);
  EXPECT_EQ(info.st_mode & 07777, 0666u);
  EXPECT_EQ(ReadBytes(path), kPrecious);
}

TEST_F(WorkingFolder, LinksFifosAndOtherUsersFilesInPlaceOfItsFilesAreRefusedNamingThem) {
  const SftpServer sftp(sftpHome.path(), kUser, kPassword, keys / "host_key");
  struct Role {
    const char* file;
    bool upload;       // the file is used only by an SFTP upload
    int exitStatus;    // an unlogged run keeps its own outcome
    const char* fifo;  // why a FIFO is refused
  };
  const Role roles[] = {
      {"palisor.log", false, 0, "not a regular file"},
      {"palisor.run.lock", false, 1, "not a regular file"},
      {"htaccess.txt", false, 1, "no program is reading this FIFO"},
      {"palisor.known_hosts", true, 1, "not a regular file"},
  };
  const struct {
    Planted planted;
    const char* reason;  // nullptr: the role's reason for a FIFO
  } plants[] = {
      {Planted::kLink, "a symbolic link"},
      {Planted::kFifo, nullptr},
      {Planted::kForeignFile, "belongs to another user"},
  };
  for (const Role& role : roles) {
    for (const auto& plant : plants) {
      SCOPED_TRACE(std::string(role.file) + ", planted " +
                   std::to_string(static_cast<int>(plant.planted)));
      if (plant.planted == Planted::kForeignFile && !IsRoot()) {
        continue;  // only root can give a file to another user
      }
      ScratchDir work;
      work.Write("palisor.ini", Settings(role.upload ? sftp.Address() : ""));
      const fs::path path = work / role.file;
      const fs::path victim = elsewhere.Write(role.file, kPrecious);
      switch (plant.planted) {
        case Planted::kLink:
          fs::create_symlink(victim, path);
          break;
        case Planted::kFifo:
          ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
          break;
        case Planted::kForeignFile:
          work.Write(role.file, kPrecious);
          ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
          ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
          break;
      }
      const auto start = std::chrono::steady_clock::now();

      const Finished run = RunIn(work.path());

      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
      EXPECT_EQ(run.exitStatus, role.exitStatus) << run.err;
      EXPECT_NE(run.err.find(std::string(role.file) + ": " +
                             (plant.reason != nullptr ? plant.reason : role.fifo)),
                std::string::npos)
          << run.err;
      ExpectLeftAlone(plant.planted, path, victim);
    }
  }
}

TEST_F(WorkingFolder, AFolderOthersMayPlantFilesInIsRefusedBeforeAnythingIsWritten) {
  const struct {
    const char* name;
    mode_t mode;
    std::optional<uid_t> owner;  // another user's folder
    bool refused;
  } cases[] = {
      {"writable by its group", 0770, std::nullopt, true},
      {"writable by all", 0777, std::nullopt, true},
      {"writable by all, with the sticky bit", 01777, std::nullopt, false},
      {"another user's", 0755, kNobody, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.owner && !IsRoot()) {
      continue;
    }
    ScratchDir work;
    work.Write("palisor.ini", Settings());
    ASSERT_EQ(::chmod(work.path().c_str(), c.mode), 0);
    if (c.owner) {
      ASSERT_EQ(::chown(work.path().c_str(), *c.owner, *c.owner), 0);
    }

    const Finished run = RunIn(work.path());

    if (c.refused) {
      EXPECT_EQ(run.exitStatus, 1);
      EXPECT_NE(run.err.find("the working folder " + work.path().string()), std::string::npos)
          << run.err;
      EXPECT_EQ(FileNames(work.path()), std::vector<std::string>{"palisor.ini"});
    } else {
      EXPECT_EQ(run.exitStatus, 0) << run.err;
      EXPECT_EQ(ReadBytes(work / "htaccess.txt"), "deny from 192.0.2.1\n");
    }
  }
}

// Only names mkstemp makes from the output's own name, and only the user's regular files.
TEST_F(WorkingFolder, TemporariesKilledRunsLeftAreRemovedAndNothingElse) {
  ScratchDir work;
  work.Write("palisor.ini", Settings());
  work.Write("htaccess.txt.a1B2c3", "half a file");
  std::set<std::string> kept = {"palisor.ini",         "palisor.log",         "htaccess.txt",
                                "htaccess.txt.a1B2c",  "htaccess.txt.a1-2c3", "other.txt.a1B2c3",
                                "htaccess.txt.link00", "htaccess.txt.nobody"};
  for (const char* name : {"htaccess.txt.a1B2c", "htaccess.txt.a1-2c3", "other.txt.a1B2c3"}) {
    work.Write(name, "the user's");
  }
  fs::create_symlink(elsewhere.Write("victim", kPrecious), work / "htaccess.txt.link00");
  work.Write("htaccess.txt.nobody", "another user's");
  if (!IsRoot() || ::chown((work / "htaccess.txt.nobody").c_str(), kNobody, kNobody) != 0) {
    kept.erase("htaccess.txt.nobody");  // the user's own after all, so removed
  }

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(FileNames(work.path()), std::vector<std::string>(kept.begin(), kept.end()));
  EXPECT_EQ(ReadBytes(elsewhere / "victim"), kPrecious);
}

TEST_F(WorkingFolder, ARunLeavesASettingsFileHoldingThePasswordToItsOwnerOnly) {
  const struct {
    const char* name;
    bool password;
    bool foreign;  // the settings file is another user's
    mode_t after;
    bool warned;
  } cases[] = {
      {"with the password", true, false, 0600, false},
      {"without a password", false, false, 0644, false},
      {"another user's, with the password", true, true, 0644, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.foreign && !IsRoot()) {
      continue;
    }
    ScratchDir work;
    const fs::path ini =
        work.Write("palisor.ini", Settings("", c.password ? "SVPSWD=secret\n" : ""));
    ASSERT_EQ(::chmod(ini.c_str(), 0644), 0);
    if (c.foreign) {
      ASSERT_EQ(::chown(ini.c_str(), kNobody, kNobody), 0);
    }

    const Finished run = RunIn(work.path());

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(LinkStatus(ini).st_mode & 07777, c.after);
    EXPECT_EQ(run.err.find("palisor.ini: belongs to another user") != std::string::npos, c.warned)
        << run.err;
  }
}

}  // namespace
}  // namespace palisor::test
