// The Apache harness itself: the frame of an access file decides who gets in, per source
// address, and a broken file takes the whole site down.
#include <gtest/gtest.h>

#include <string>

#include "support/ApacheServer.h"
#include "support/ScratchWorkingDir.h"

namespace palisor::test {
namespace {

TEST(ApacheServer, AnswersEachSourceAsItsAccessFileSays) {
  struct Case {
    const char* accessFile;
    long fromFirst;   // 127.0.0.1
    long fromSecond;  // 127.0.0.2
  };
  const Case cases[] = {
      {"", 200, 200},
      {"deny from 127.0.0.2\n", 200, 403},
      {"<RequireAll>\nRequire all granted\nRequire not ip 127.0.0.2\n</RequireAll>\n", 200, 403},
      {"deny from 127.0.0.2:8080\n", 500, 500},
  };
  ApacheServer apache;
  for (const Case& c : cases) {
    WriteBytes(apache.docroot() / ".htaccess", c.accessFile);
    EXPECT_EQ(StatusFrom(apache.Url("/"), "127.0.0.1"), c.fromFirst) << c.accessFile;
    EXPECT_EQ(StatusFrom(apache.Url("/"), "127.0.0.2"), c.fromSecond) << c.accessFile;
  }
}

}  // namespace
}  // namespace palisor::test
