#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

using test::FileNames;
using test::ReadBytes;
using test::WriteBytes;

using AtomicFileReplace = test::ScratchWorkingDir;

// What others put at the name while the file was being written is looked at again before the
// rename, and stays: a link (to a file that does not exist yet), another user's file.
TEST_F(AtomicFileReplace, WhatWasPutAtTheNameMeanwhileIsNotReplaced) {
  for (const bool foreign : {false, true}) {
    SCOPED_TRACE(foreign ? "another user's file" : "a link");
    if (foreign && ::geteuid() != 0) {
      continue;  // only root can give a file to another user
    }
    std::filesystem::remove("target");
    std::string error;
    auto file = AtomicFile::Open("target", error);
    ASSERT_TRUE(file.has_value()) << error;
    if (foreign) {
      WriteBytes("target", "theirs\n");
      ASSERT_EQ(::chown("target", 65534, 65534), 0);
    } else {
      std::filesystem::create_symlink("elsewhere", "target");
    }
    EXPECT_TRUE(file->Write("new\n"));
    EXPECT_FALSE(file->Commit(error));
    EXPECT_NE(error.find("target: "), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::is_symlink("target"), !foreign);
    EXPECT_EQ(ReadBytes("target"), foreign ? "theirs\n" : "");
    EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"target"});
  }
}

TEST_F(AtomicFileReplace, UncommittedFileLeavesTheTargetAndNoTemporary) {
  WriteBytes("target", "old\n");
  {
    std::string error;
    auto file = AtomicFile::Open("target", error);
    ASSERT_TRUE(file.has_value()) << error;
    ASSERT_TRUE(file->Write(std::string(200'000, 'x')));  // more than one buffer's worth
  }
  EXPECT_EQ(ReadBytes("target"), "old\n");
  EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"target"});
}

TEST_F(AtomicFileReplace, EmptyPathOrFolderIsRefusedAndCreatesNothing) {
  std::filesystem::create_directory("folder");
  for (const char* target : {"", "folder"}) {
    SCOPED_TRACE(target);
    std::string error;
    EXPECT_FALSE(AtomicFile::Open(target, error).has_value());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"folder"});
    EXPECT_TRUE(FileNames("folder").empty());
  }
}

// What the program at the other end of a FIFO does.
enum class Reader { kNone, kReadsAll, kNeverReads, kGoesAway };

// Reads everything from `fd` until every writer has closed.
std::string ReadToEnd(int fd) {
  ::fcntl(fd, F_SETFL, 0);
  std::string bytes;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

TEST_F(AtomicFileReplace, FifoNeverBlocksWhateverItsReaderDoes) {
  using namespace std::chrono_literals;
  const std::string bytes(300'000, 'x');  // several times what a pipe holds
  struct Case {
    const char* name;
    Reader reader;
    bool keepGoing;
    const char* failure;  // a part of the reason; nullptr when all arrives
  };
  const Case cases[] = {
      {"no reader", Reader::kNone, true, "no program is reading this FIFO"},
      {"reads all", Reader::kReadsAll, true, nullptr},
      {"stalls", Reader::kNeverReads, true, "within the time-out"},
      {"stalls, run ended", Reader::kNeverReads, false, "abandoned"},
      {"goes away", Reader::kGoesAway, true, "Broken pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("fifo");
    ASSERT_EQ(::mkfifo("fifo", 0600), 0);
    const int readEnd = c.reader == Reader::kNone ? -1 : ::open("fifo", O_RDONLY | O_NONBLOCK);
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    auto file = AtomicFile::Open("fifo", error);
    if (c.reader == Reader::kNone) {
      EXPECT_FALSE(file.has_value());
      EXPECT_NE(error.find(c.failure), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(file.has_value()) << error;
    file->LimitWaits(300ms, [&c] { return c.keepGoing; });
    std::string received;
    std::thread reader;
    if (c.reader == Reader::kReadsAll) {
      reader = std::thread([&received, readEnd] { received = ReadToEnd(readEnd); });
    } else if (c.reader == Reader::kGoesAway) {
      ::close(readEnd);
    }

    const bool wrote = file->Write(bytes);
    const bool written = file->Commit(error) && wrote;
    EXPECT_EQ(file->abandoned(), !c.keepGoing);
    file.reset();
    if (reader.joinable()) {
      reader.join();
    }
    if (c.reader != Reader::kGoesAway) {
      ::close(readEnd);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    if (c.failure == nullptr) {
      EXPECT_TRUE(written) << error;
      EXPECT_TRUE(received == bytes);
    } else {
      EXPECT_FALSE(written);
      EXPECT_NE(error.find(c.failure), std::string::npos) << error;
    }
  }
}

}  // namespace
}  // namespace palisor
