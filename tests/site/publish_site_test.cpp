// Publishing in front of a real Apache: what the site answers while a file is replaced, and
// the check that puts the previous file back when the new one breaks the site.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Transfer.h"
#include "support/ApacheServer.h"
#include "support/RecordingEvents.h"
#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"
#include "update/FtpUpload.h"

namespace palisor::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kUser = "site";
const std::string kPassword = "secret";
const std::string kGood = "deny from 127.0.0.2\n";
const std::string kBroken = "deny from 127.0.0.2:8080\n";  // Apache: 500 for every request

class PublishSiteTest : public ScratchWorkingDir {
 protected:
  void SetUp() override {
    ScratchWorkingDir::SetUp();
    settings.SVUSER = kUser;
    settings.SVPSWD = kPassword;
    settings.SVFILE = ".htaccess";
    settings.LINESEP = "\n";
    settings.LCFILE = "htaccess.txt";
    settings.OTHERLINES = OtherLines::kReplace;  // these sites' files are Palisor's own
    transfer.SetRequestTimeout(30s);
  }

  fs::path Live() const { return apache.docroot() / ".htaccess"; }
  // The file written before, sent as a run sends what it wrote.
  StageResult Upload() {
    return UploadAccessFile(settings, test::ReadBytes(settings.LCFILE), transfer, events.token(),
                            warnings)
        .Without();
  }

  ApacheServer apache;
  Settings settings;
  Transfer transfer;
  RecordingEvents events;
  std::vector<std::string> warnings;
};

TEST_F(PublishSiteTest, ANewServerErrorPutsThePreviousFileBack) {
  struct Case {
    const char* name;
    std::optional<std::string> previous;  // none: no access file before
    std::string next;
    const char* failure;  // empty: the run goes on
    std::optional<std::string> liveAfter;
  };
  const Case cases[] = {
      {"broken file over a good one", kGood, kBroken,
       "the site answered 500 with the new file; the previous file was put back", kGood},
      {"broken file where there was none", std::nullopt, kBroken,
       "the site answered 500 with the new file; the new file was removed, as there was none "
       "before",
       std::nullopt},
      {"good file over a good one", kGood, kGood + "deny from 192.0.2.1\n", "",
       kGood + "deny from 192.0.2.1\n"},
      {"site broken before and after", kBroken, kBroken + "deny from 192.0.2.1\n", "",
       kBroken + "deny from 192.0.2.1\n"},
  };
  const FtpServer ftp(apache.docroot(), kUser, kPassword);
  settings.SVNAME = ftp.Address();
  settings.CHECKURL = apache.Url("/");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(Live());
    if (c.previous) {
      WriteBytes(Live(), *c.previous);
    }
    WriteBytes("htaccess.txt", c.next);

    const StageResult result = Upload();

    EXPECT_EQ(result.error, c.failure);
    EXPECT_EQ(fs::exists(Live()), c.liveAfter.has_value());
    if (c.liveAfter) {
      EXPECT_EQ(ReadBytes(Live()), *c.liveAfter);
    }
  }
}

// Asks the site from a visitor and from a listed address until told to stop.
class Visitors final {
 public:
  explicit Visitors(std::string url)
      : url_(std::move(url)), thread_([this] {
          while (!stop_) {
            visitor_.push_back(StatusFrom(url_, "127.0.0.1"));
            listed_.push_back(StatusFrom(url_, "127.0.0.2"));
          }
        }) {}
  ~Visitors() { Stop(); }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  const std::vector<long>& visitor() const { return visitor_; }
  const std::vector<long>& listed() const { return listed_; }

 private:
  std::string url_;
  std::atomic<bool> stop_{false};
  std::vector<long> visitor_;
  std::vector<long> listed_;
  std::thread thread_;
};

TEST_F(PublishSiteTest, RequestsDuringASlowReplacementSeeOnlyWholeFiles) {
  // About 1.4 MB received at 400 kB/s: some three seconds of upload.
  std::string next = kGood;
  for (int i = 0; i < 60'000; ++i) {
    next +=
        "deny from 10." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ".0/24\n";
  }
  struct Case {
    const char* name;
    std::chrono::milliseconds endProgramAfter;  // 0: the upload runs to its end
    const std::string& liveAfter;
  };
  const Case cases[] = {
      {"upload to its end", 0ms, next},
      {"program ended half-way", 300ms, kGood},
  };
  const FtpServer ftp(apache.docroot(), kUser, kPassword, {"--upload-rate", "400000"});
  settings.SVNAME = ftp.Address();
  WriteBytes("htaccess.txt", next);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(Live(), kGood);
    events = RecordingEvents();
    if (c.endProgramAfter > 0ms) {
      events.StopAfter(c.endProgramAfter);
    }
    Visitors visitors(apache.Url("/"));

    const StageResult result = Upload();
    visitors.Stop();

    EXPECT_EQ(result.outcome, c.endProgramAfter == 0ms ? Outcome::kOk : Outcome::kAbandoned);
    EXPECT_TRUE(ReadBytes(Live()) == c.liveAfter);
    EXPECT_GT(visitors.visitor().size(), 5u);
    EXPECT_EQ(std::vector<long>(visitors.visitor().size(), 200), visitors.visitor());
    EXPECT_EQ(std::vector<long>(visitors.listed().size(), 403), visitors.listed());
  }
}

}  // namespace
}  // namespace palisor::test
