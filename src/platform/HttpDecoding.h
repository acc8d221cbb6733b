#pragma once

// How a downloaded body is encoded, and its decoding. libcurl's own decoder takes a compressed
// stream that stops in the middle for a whole body, which would turn a broken download into a
// shortened list (and its last address into a network prefix), so bodies are fetched as sent
// and inflated here, where a stream must reach its end.

#include <cstddef>
#include <string>
#include <string_view>

namespace palisor {

enum class Coding { kIdentity, kGzip, kDeflate, kUnsupported };

Coding CodingNamed(std::string_view name);

// Follows the header lines of the responses of one request (a redirect's come first) and
// keeps the Content-Encoding of the last response, lower case and without blanks.
class ContentEncoding final {
 public:
  void Take(std::string_view headerLine);
  Coding coding() const { return CodingNamed(name_); }

 private:
  std::string name_;
};

// The most a body may hold, and the reason a body past it fails with.
struct BodyLimit {
  std::size_t bytes = 0;
  std::string pastIt;
};

// Decodes `body` by `coding` in place; an empty text when it is fine, else why not.
std::string DecodeBody(Coding coding, std::string& body, const BodyLimit& limit);

}  // namespace palisor
