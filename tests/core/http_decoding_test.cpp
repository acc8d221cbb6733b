#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/HttpDecoding.h"

namespace palisor {
namespace {

TEST(ContentEncoding, OnlyTheFinalResponseSaysHowTheBodyIsEncoded) {
  const struct {
    const char* name;
    std::vector<std::string> headers;  // every response's header lines, in order
    Coding coding;
  } cases[] = {
      {"none", {"HTTP/1.1 200 OK\r\n", "Content-Length: 3\r\n", "\r\n"}, Coding::kIdentity},
      {"gzip", {"HTTP/1.1 200 OK\r\n", "Content-Encoding: gzip\r\n", "\r\n"}, Coding::kGzip},
      {"written loosely",
       {"HTTP/1.1 200 OK\r\n", "content-ENCODING :\tDeflate \r\n"},
       Coding::kDeflate},
      {"a redirect's encoding is not the body's",
       {"HTTP/1.1 302 Found\r\n", "Content-Encoding: gzip\r\n", "\r\n", "HTTP/1.1 200 OK\r\n",
        "\r\n"},
       Coding::kIdentity},
      {"the final one's after a redirect",
       {"HTTP/1.1 302 Found\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "Content-Encoding: br\r\n"},
       Coding::kUnsupported},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ContentEncoding encoding;
    for (const std::string& line : c.headers) {
      encoding.Take(line);
    }
    EXPECT_EQ(encoding.coding(), c.coding);
  }
}

}  // namespace
}  // namespace palisor
