// Two hundred update runs in a row against the local list and FTP servers, a fifth of them
// failing at a random stage, as months of unattended running would bring. After every run the
// output is exactly the last good file or exactly the new one, nothing temporary is left, the
// window is idle again, and the process holds no more descriptors or memory than before.
//
// The plan is random but seeded; the seed is printed, and PALISOR_SOAK_SEED repeats a plan.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/RecordingEvents.h"
#include "support/ResidentMemory.h"
#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"
#include "update/RunUpdate.h"

namespace palisor {
namespace {

using namespace std::chrono_literals;

constexpr int kRuns = 200;
constexpr int kFailingRuns = kRuns / 5;
constexpr int kWarmUpRuns = 20;
// Descriptors libcurl may keep open between runs (a cached connection) beyond the warm-up's.
constexpr std::size_t kDescriptorSlack = 2;
// Generous for allocator caches; a leak of one list per run would pass it within the runs.
constexpr long kMemorySlackBytes = 4L << 20;
constexpr int kAddressesPerList = 3000;

constexpr const char* kOutput = "htaccess.txt";
constexpr const char* kUser = "site";
constexpr const char* kPassword = "secret";

enum class Fault { kNone, kDownloadError, kTimeOut, kRefusedUpload };

const char* Name(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "none";
    case Fault::kDownloadError:
      return "download error";
    case Fault::kTimeOut:
      return "time-out";
    case Fault::kRefusedUpload:
      break;
  }
  return "refused upload";
}

unsigned ChooseSeed() {
  if (const char* given = std::getenv("PALISOR_SOAK_SEED")) {
    return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
  }
  return std::random_device{}();
}

// Which runs fail, and at which stage: exactly a fifth of them, spread at random.
std::vector<Fault> PlanRuns(std::mt19937& random) {
  std::vector<Fault> plan(kRuns, Fault::kNone);
  std::uniform_int_distribution<int> stage(1, 3);
  for (int i = 0; i < kFailingRuns; ++i) {
    plan[i] = static_cast<Fault>(stage(random));
  }
  std::shuffle(plan.begin(), plan.end(), random);
  return plan;
}

template <typename T>
const T& PickOne(const std::vector<T>& choices, std::mt19937& random) {
  return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random)];
}

// A list that differs from run to run, so that the old and the new file can be told apart.
std::string ListForRun(int run) {
  std::string list;
  for (int i = 0; i < kAddressesPerList; ++i) {
    list += "10." + std::to_string(run) + "." + std::to_string(i >> 8) + "." +
            std::to_string(i & 255) + "\n";
  }
  return list;
}

std::string AccessFileFor(const std::string& list) {
  std::string file;
  std::size_t start = 0;
  for (std::size_t end; (end = list.find('\n', start)) != std::string::npos; start = end + 1) {
    file += "deny from " + list.substr(start, end - start) + "\n";
  }
  return file;
}

struct Usage {
  std::size_t descriptors = 0;
  long residentBytes = 0;
};

Usage CurrentUsage() {
  Usage usage;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++usage.descriptors;
  }
  std::ifstream statm("/proc/self/statm");
  long totalPages = 0;
  long residentPages = 0;
  statm >> totalPages >> residentPages;
  usage.residentBytes = residentPages * ::sysconf(_SC_PAGESIZE);
  return usage;
}

std::optional<std::string> Contents(const std::filesystem::path& file) {
  if (!std::filesystem::exists(file)) {
    return std::nullopt;
  }
  return test::ReadBytes(file);
}

class SoakTest : public test::ScratchWorkingDir {
 protected:
  void SetUp() override {
    test::ScratchWorkingDir::SetUp();
    events.keepLog = false;
    Settings& s = base.settings;
    s.LCFILE = ".\\htaccess.txt";
    s.CHARBF = "deny from ";
    s.LINESEP = "\n";
    s.MASK = 32;
    s.LISTMAX = 9999;
    s.TMINT = 1800;
    s.MODE1 = true;
    s.FTPSW = true;
    s.URL1 = http.Url("/list.txt");
    s.SVNAME = ftp.Address();
    s.SVUSER = kUser;
    s.SVPSWD = kPassword;
    s.SVFILE = ".htaccess";
  }

  // The settings and time-out of one run that is to fail as `fault` says.
  RunOptions Arrange(Fault fault, std::mt19937& random) {
    state.settings = base.settings;
    RunOptions options{10s, {}};
    const std::string nowhere = "127.0.0.1:" + std::to_string(test::UnusedPort());
    Settings& s = state.settings;
    switch (fault) {
      case Fault::kNone:
        break;
      case Fault::kDownloadError:
        s.URL1 = PickOne<std::string>(
            {http.Url("/status/503"), http.Url("/status/404"), http.Url("/cut"),
             http.Url("/cut-gzip"), "http://" + nowhere + "/list.txt"},
            random);
        break;
      case Fault::kTimeOut:
        s.URL1 = PickOne<std::string>({http.Url("/stall"), http.Url("/headers-stall")}, random);
        options.requestTimeout = 300ms;
        break;
      case Fault::kRefusedUpload:
        switch (std::uniform_int_distribution<int>(0, 2)(random)) {
          case 0:
            s.SVPSWD = "wrong";
            break;
          case 1:
            s.SVPATH = "/no-such-directory";
            break;
          default:
            s.SVNAME = nowhere;
        }
        break;
    }
    return options;
  }

  test::ScratchDir lists;
  test::ScratchDir ftpHome;
  test::HttpServer http{lists.path()};
  test::FtpServer ftp{ftpHome.path(), kUser, kPassword};
  Module1 base;
  Module1 state;
  test::RecordingEvents events;
  Transfer transfer;
};

TEST_F(SoakTest, TwoHundredRunsWithAFifthFailing) {
  const unsigned seed = ChooseSeed();
  std::cout << "soak seed " << seed << " (PALISOR_SOAK_SEED=" << seed << " repeats it)\n";
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);
  const std::vector<Fault> plan = PlanRuns(random);

  std::optional<std::string> local;     // what the output file must hold
  std::optional<std::string> uploaded;  // what the FTP server must hold
  Usage warm;
  Usage peak;
  const auto started = std::chrono::steady_clock::now();
  for (int run = 0; run < kRuns; ++run) {
    const Fault fault = plan[run];
    SCOPED_TRACE("run " + std::to_string(run) + ", fault: " + Name(fault) +
                 ", seed: " + std::to_string(seed));
    const std::string list = ListForRun(run);
    lists.Write("list.txt", list);
    const RunOptions options = Arrange(fault, random);
    const RunReport report = RunUpdate(state.settings, events, transfer, events.token(), options);

    if (fault == Fault::kNone || fault == Fault::kRefusedUpload) {
      local = AccessFileFor(list);
    }
    if (fault == Fault::kNone) {
      uploaded = local;
      ASSERT_EQ(report.outcome, Outcome::kOk) << report.error;
    } else {
      ASSERT_EQ(report.outcome, Outcome::kFailed);
    }
    ASSERT_TRUE(Contents(dir() / kOutput) == local);
    ASSERT_TRUE(Contents(ftpHome / ".htaccess") == uploaded);
    const std::vector<std::string> onlyOutput{kOutput};
    ASSERT_EQ(test::FileNames(dir()), local ? onlyOutput : std::vector<std::string>{});

    const Usage now = CurrentUsage();
    if (run + 1 == kWarmUpRuns) {
      warm = peak = now;
    } else if (run + 1 > kWarmUpRuns) {
      peak.descriptors = std::max(peak.descriptors, now.descriptors);
      peak.residentBytes = std::max(peak.residentBytes, now.residentBytes);
      ASSERT_LE(now.descriptors, warm.descriptors + kDescriptorSlack);
      if (test::kResidentMemoryTells) {
        ASSERT_LE(now.residentBytes, warm.residentBytes + kMemorySlackBytes);
      }
    }
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count() /
                       1000.0;
  std::cout << kRuns << " runs in " << seconds << " s; descriptors " << warm.descriptors
            << " after warm-up, at most " << peak.descriptors << "; resident memory "
            << warm.residentBytes / 1024 << " KiB after warm-up, at most "
            << peak.residentBytes / 1024 << " KiB\n";
}

}  // namespace
}  // namespace palisor
