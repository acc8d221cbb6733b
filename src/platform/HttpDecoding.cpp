#include "platform/HttpDecoding.h"

#include <zlib.h>

#include <cctype>
#include <memory>
#include <utility>

#include "platform/Text.h"

namespace palisor {
namespace {

enum class Inflated { kOk, kTruncated, kCorrupt, kTooLarge, kOutOfMemory };

struct InflateEnder {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

// Inflates a whole zlib or gzip stream (gzip members one after another included, 15 + 32
// window bits) or a raw deflate stream (-15) into `out`, bounded by `limit`.
Inflated InflateStream(std::string_view in, int windowBits, std::size_t limit, std::string& out) {
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) {
    return Inflated::kOutOfMemory;
  }
  const std::unique_ptr<z_stream, InflateEnder> ender(&stream);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  stream.avail_in = static_cast<uInt>(in.size());  // bodies are far below 4 GiB
  char buffer[1 << 16];
  for (;;) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    const int status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = sizeof buffer - stream.avail_out;
    const Appended appended = AppendWithin(out, std::string_view(buffer, produced), limit);
    if (appended != Appended::kOk) {
      return appended == Appended::kPastLimit ? Inflated::kTooLarge : Inflated::kOutOfMemory;
    }
    if (status == Z_STREAM_END) {
      if (stream.avail_in == 0) {
        return Inflated::kOk;
      }
      if (inflateReset(&stream) != Z_OK) {
        return Inflated::kCorrupt;
      }
    } else if (status == Z_BUF_ERROR && stream.avail_in == 0) {
      return Inflated::kTruncated;  // the input ended before the stream did
    } else if (status != Z_OK) {
      return status == Z_MEM_ERROR ? Inflated::kOutOfMemory : Inflated::kCorrupt;
    }
  }
}

}  // namespace

Coding CodingNamed(std::string_view name) {
  if (name.empty() || name == "identity") {
    return Coding::kIdentity;
  }
  if (name == "gzip" || name == "x-gzip") {
    return Coding::kGzip;
  }
  return name == "deflate" ? Coding::kDeflate : Coding::kUnsupported;
}

void ContentEncoding::Take(std::string_view line) {
  constexpr std::string_view kName = "content-encoding:";
  if (line.starts_with("HTTP/")) {
    name_.clear();
    return;
  }
  std::string lower;
  for (const char c : line) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  if (lower.starts_with(kName)) {
    name_ = lower.substr(kName.size());
  }
}

std::string DecodeBody(Coding coding, std::string& body, const BodyLimit& limit) {
  if (coding == Coding::kIdentity || body.empty()) {
    return {};
  }
  if (coding == Coding::kUnsupported) {
    return "the server sent the list in an encoding that was not asked for";
  }
  std::string decoded;
  Inflated result = InflateStream(body, 15 + 32, limit.bytes, decoded);
  if (result == Inflated::kCorrupt && coding == Coding::kDeflate && decoded.empty()) {
    result = InflateStream(body, -15, limit.bytes, decoded);  // deflate sent without its zlib frame
  }
  switch (result) {
    case Inflated::kOk:
      body = std::move(decoded);
      return {};
    case Inflated::kTruncated:
      return "the compressed list stops before its end";
    case Inflated::kCorrupt:
      return "the compressed list is damaged";
    case Inflated::kTooLarge:
      return limit.pastIt;
    case Inflated::kOutOfMemory:
      break;
  }
  return "not enough memory for the list";
}

}  // namespace palisor
