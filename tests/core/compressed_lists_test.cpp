// Compressed list bodies: every encoding a server may choose arrives byte for byte, and a
// compressed stream that stops early or is damaged is a failed download, never a shorter
// list that looks complete.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/Transfer.h"
#include "support/TestServers.h"

namespace palisor {
namespace {

using namespace std::chrono_literals;

// Addresses that do not compress to almost nothing, so that half a stream is many lines.
std::string SomeAddresses(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
            std::to_string(i & 255) + "\n";
  }
  return text;
}

class CompressedListTest : public ::testing::Test {
 protected:
  CompressedListTest() {
    root.Write("list.txt", list);
    transfer.SetRequestTimeout(20s);
  }

  Result<std::string> Get(std::string_view pathAndQuery) {
    return transfer.Get(server.Url(pathAndQuery), KeepGoing{});
  }

  const std::string list = SomeAddresses(50000);
  test::ScratchDir root;
  test::HttpServer server{root.path()};
  Transfer transfer;
};

TEST_F(CompressedListTest, EveryEncodingArrivesWhole) {
  for (const char* coding : {"gzip", "x-gzip", "deflate", "raw-deflate", "gzip-members"}) {
    SCOPED_TRACE(coding);
    const Result<std::string> result = Get(std::string("/list.txt?coding=") + coding);
    ASSERT_EQ(result.outcome, Outcome::kOk) << result.error;
    EXPECT_TRUE(result.value == list) << result.value.size() << " bytes";
  }
}

TEST_F(CompressedListTest, AStreamCutShortOrDamagedFails) {
  root.Write("damaged.gz", "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03 not deflate at all");
  struct Case {
    const char* path;
    const char* why;
  };
  for (const Case& c : {Case{"/cut-gzip", "stops before its end"},
                        Case{"/damaged.gz?coding=labelled-gzip", "damaged"}}) {
    SCOPED_TRACE(c.path);
    const Result<std::string> result = Get(c.path);
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_TRUE(result.value.empty()) << result.value.size() << " bytes";
    EXPECT_NE(result.error.find(c.why), std::string::npos) << result.error;
  }
}

TEST_F(CompressedListTest, AnEncodingNotAskedForFails) {
  const Result<std::string> result = Get("/list.txt?coding=labelled-br");
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(result.error.find("encoding"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace palisor
