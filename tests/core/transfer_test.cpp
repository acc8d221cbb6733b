#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Transfer.h"
#include "support/TestServers.h"

namespace palisor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Every byte value, in an order that no text-mode or line-ending conversion leaves intact.
std::string BinaryBytes(std::size_t size) {
  std::string bytes(size, '\0');
  unsigned value = 1;
  for (char& byte : bytes) {
    value = value * 1103515245u + 12345u;
    byte = static_cast<char>(value >> 16);
  }
  for (unsigned i = 0; i < 256 && i < size; ++i) {
    bytes[i] = static_cast<char>(i);
  }
  return bytes;
}

const KeepGoing kAlways;  // never stops

class TransferTest : public ::testing::Test {
 protected:
  Result<std::string> Get(std::string_view pathAndQuery) {
    return transfer.Get(server.Url(pathAndQuery), kAlways);
  }

  test::ScratchDir root;
  test::HttpServer server{root.path()};
  Transfer transfer;
};

TEST_F(TransferTest, ServesFilesByteExact) {
  const std::string binary = BinaryBytes(300'000);
  root.Write("list.bin", binary);
  root.Write("empty.txt", "");
  root.Write("dir/list with space.txt", "1.2.3.4\r\n5.6.7.8\n");

  const Result<std::string> result = Get("/list.bin");
  ASSERT_EQ(result.outcome, Outcome::kOk) << result.error;
  EXPECT_TRUE(result.value == binary);

  const Result<std::string> empty = Get("/empty.txt");
  EXPECT_EQ(empty.outcome, Outcome::kOk) << empty.error;
  EXPECT_EQ(empty.value, "");

  const Result<std::string> nested = Get("/dir/list%20with%20space.txt");
  EXPECT_EQ(nested.outcome, Outcome::kOk) << nested.error;
  EXPECT_EQ(nested.value, "1.2.3.4\r\n5.6.7.8\n");
}

TEST_F(TransferTest, ErrorStatusesAreFailuresNotLists) {
  // A 3xx without a place to go is as final as any other status outside 200 ... 299.
  for (const char* path :
       {"/status/404", "/status/500", "/status/403", "/missing.txt", "/status/301"}) {
    SCOPED_TRACE(path);
    const Result<std::string> result = Get(path);
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_EQ(result.value, "");
    EXPECT_NE(result.error.find("HTTP status"), std::string::npos) << result.error;
  }
  const Result<std::string> notFound = Get("/status/404");
  EXPECT_NE(notFound.error.find("404"), std::string::npos) << notFound.error;
}

TEST_F(TransferTest, HttpsTrustsTheExtraCertificatesAndNeverRedirectsToPlainHttp) {
  const test::TestCertificate identity;
  const test::HttpServer secure(root.path(), identity);
  root.Write("list.txt", "9.9.9.9\n");
  const std::string plainList = server.Url("/list.txt");
  const std::string secureList = secure.Url("/list.txt");
  auto redirectTo = [&secure](std::string_view to) {
    return secure.Url("/redirect?to=" + std::string(to));
  };
  std::string shouting = plainList;
  shouting.replace(0, 4, "HTTP");

  struct Case {
    std::string url;
    std::filesystem::path caFile;
    std::string failure;  // a part of the reason; empty when the list arrives
  };
  const Case cases[] = {
      {secureList, identity.certificate(), ""},
      {redirectTo(secureList), identity.certificate(), ""},
      {server.Url("/redirect?to=" + secureList), identity.certificate(), ""},
      {redirectTo(plainList), identity.certificate(), "redirected it to " + plainList},
      {redirectTo(shouting), identity.certificate(), "never fetched over plain http"},
      {redirectTo(server.Url("/redirect?to=" + secureList)), identity.certificate(), "plain http"},
      {secureList, "", "certificate"},
      {secureList, root / "missing.pem", "missing.pem"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + " trusting " + c.caFile.string());
    transfer.SetExtraCaFile(c.caFile);
    const Result<std::string> result = transfer.Get(c.url, kAlways);
    if (c.failure.empty()) {
      EXPECT_EQ(result.outcome, Outcome::kOk) << result.error;
      EXPECT_EQ(result.value, "9.9.9.9\n");
    } else {
      EXPECT_EQ(result.outcome, Outcome::kFailed);
      EXPECT_EQ(result.value, "");
      EXPECT_NE(result.error.find(c.failure), std::string::npos) << result.error;
    }
  }
}

TEST_F(TransferTest, RefusesAddressesThatAreNotHttp) {
  for (const std::string& url :
       {std::string("file:///etc/passwd"),
        "ftp://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/list.txt"}) {
    SCOPED_TRACE(url);
    const Result<std::string> result = transfer.Get(url, kAlways);
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_EQ(result.value, "");
  }
}

TEST_F(TransferTest, BodyOverTheLimitFailsAfterDecoding) {
  root.Write("list.txt", std::string(1000, 'x'));
  root.Write("big.txt", std::string(1001, 'x'));
  root.Write("bomb.txt", std::string(1'000'000, 'x'));  // a few KiB on the wire
  transfer.SetMaxBodyBytes(1000);

  EXPECT_EQ(Get("/list.txt").outcome, Outcome::kOk);
  for (const char* path : {"/big.txt", "/bomb.txt?gzip=1"}) {
    SCOPED_TRACE(path);
    const Result<std::string> result = Get(path);
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_EQ(result.value, "");
    EXPECT_NE(result.error.find("larger than 1000 bytes"), std::string::npos) << result.error;
  }
}

// Waiting on a slow server costs no CPU, and a stop is heard at once, not at the next slice.
TEST_F(TransferTest, WaitingCostsNoCpuAndAStopAbandonsAtOnce) {
  root.Write("list.txt", "1.2.3.4\n");
  const std::clock_t cpuBefore = std::clock();
  ASSERT_EQ(transfer.Get(server.Url("/list.txt?delay=1"), kAlways).value, "1.2.3.4\n");
  EXPECT_LT(std::clock() - cpuBefore, CLOCKS_PER_SEC / 5);

  root.Write("list.txt", std::string(1600, 'x'));  // 100 chunks, 100 ms apart: ten seconds
  std::stop_source stop;
  const auto start = Clock::now();
  const std::jthread user([&stop] {
    std::this_thread::sleep_for(300ms);
    stop.request_stop();
  });
  const Result<std::string> result =
      transfer.Get(server.Url("/list.txt?trickle=100"), KeepGoing(stop.get_token()));
  EXPECT_EQ(result.outcome, Outcome::kAbandoned);
  EXPECT_EQ(result.value, "");
  EXPECT_LT(Clock::now() - start, 300ms + 200ms);

  // The transfer object stays usable after an abandoned transfer.
  root.Write("next.txt", "ok");
  EXPECT_EQ(Get("/next.txt").value, "ok");
}

TEST_F(TransferTest, RedirectsAreFollowedFiveTimesAtMost) {
  root.Write("list.txt", "9.9.9.9\n");
  // Each hop's address rides, percent-encoded, in the query of the one before.
  const auto hops = [this](int count) {
    std::string url = server.Url("/list.txt");
    for (int i = 0; i < count; ++i) {
      std::string encoded;
      for (const char c : url) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
          encoded += c;
        } else {
          encoded += '%';
          encoded += "0123456789ABCDEF"[static_cast<unsigned char>(c) >> 4];
          encoded += "0123456789ABCDEF"[c & 0x0F];
        }
      }
      url = server.Url("/redirect?to=" + encoded);
    }
    return url;
  };
  EXPECT_EQ(transfer.Get(hops(5), kAlways).value, "9.9.9.9\n");
  const Result<std::string> tooMany = transfer.Get(hops(6), kAlways);
  EXPECT_EQ(tooMany.outcome, Outcome::kFailed);
  EXPECT_NE(tooMany.error.find("redirect"), std::string::npos) << tooMany.error;
}

}  // namespace
}  // namespace palisor
