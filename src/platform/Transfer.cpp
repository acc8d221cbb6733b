#include "platform/Transfer.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace palisor {
namespace {

constexpr std::chrono::milliseconds kDefaultRequestTimeout{600'000};
constexpr std::size_t kDefaultMaxBodyBytes = std::size_t{256} << 20;
constexpr long kMaxRedirects = 5;
// Debian's hashed folder of the system's certificates, kept when the bundle file is replaced
// by the extra certificates.
constexpr const char* kSystemCaFolder = "/etc/ssl/certs";
// Short enough for a responsive window, long enough that waiting costs no CPU.
constexpr int kWaitSliceMs = 50;

// libcurl's process-wide state: set up once before the first handle, torn down at exit
// after every handle (a function-local static outlives the objects built after it).
class CurlGlobal final {
 public:
  static bool Ready() {
    static const CurlGlobal global;
    return global.ready_;
  }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;

 private:
  CurlGlobal() : ready_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
  ~CurlGlobal() {
    if (ready_) {
      curl_global_cleanup();
    }
  }
  bool ready_;
};

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

TransferResult Failure(std::string why) {
  return {TransferStatus::kFailed, {}, std::move(why)};
}

// Sets options one after another and remembers the first one libcurl refused, so that a
// missing safety option (a protocol restriction) fails the transfer instead of weakening it.
class EasyOptions final {
 public:
  explicit EasyOptions(CURL* easy) : easy_(easy) {}
  template <typename Value>
  EasyOptions& Set(CURLoption option, Value value) {
    const CURLcode code = curl_easy_setopt(easy_, option, value);
    if (first_ == CURLE_OK) {
      first_ = code;
    }
    return *this;
  }
  CURLcode result() const { return first_; }

 private:
  CURL* easy_;
  CURLcode first_ = CURLE_OK;
};

// Detaches the easy handle from the multi handle on every way out of a transfer.
class Attachment final {
 public:
  Attachment(CURLM* multi, CURL* easy)
      : multi_(multi), easy_(easy), attached_(curl_multi_add_handle(multi, easy) == CURLM_OK) {}
  ~Attachment() {
    if (attached_) {
      curl_multi_remove_handle(multi_, easy_);
    }
  }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
  bool attached() const { return attached_; }

 private:
  CURLM* multi_;
  CURL* easy_;
  bool attached_;
};

// How one transfer through the multi handle ended.
struct Completion {
  bool aborted = false;
  CURLcode code = CURLE_OK;
  std::string multiError;  // the multi interface itself failed
};

// The downloaded bytes, bounded so that a huge (or endlessly decompressing) body fails.
struct Body {
  std::string bytes;
  std::size_t limit = 0;
  bool tooLarge = false;
  bool outOfMemory = false;
};

std::size_t AppendToBody(char* data, std::size_t size, std::size_t count, void* userData) {
  auto& body = *static_cast<Body*>(userData);
  const std::size_t length = size * count;
  if (length > body.limit - body.bytes.size()) {
    body.tooLarge = true;
    return 0;  // libcurl stops the transfer with a write error
  }
  try {
    body.bytes.append(data, length);
  } catch (const std::bad_alloc&) {
    body.outOfMemory = true;
    return 0;
  }
  return length;
}

// How the final response's body is encoded. libcurl's own decoder takes a compressed stream
// that stops in the middle for a whole body, which would turn a broken download into a
// shortened list (and its last address into a network prefix), so bodies are fetched as sent
// and inflated by DecodeBody, which knows where a stream must end.
enum class Coding { kIdentity, kGzip, kDeflate, kUnsupported };

Coding CodingNamed(std::string_view name) {
  if (name.empty() || name == "identity") {
    return Coding::kIdentity;
  }
  if (name == "gzip" || name == "x-gzip") {
    return Coding::kGzip;
  }
  return name == "deflate" ? Coding::kDeflate : Coding::kUnsupported;
}

// Keeps the Content-Encoding of the last response (a redirect's headers come first), lower
// case and without blanks.
std::size_t KeepContentEncoding(char* data, std::size_t size, std::size_t count, void* userData) {
  const std::size_t length = size * count;
  auto& encoding = *static_cast<std::string*>(userData);
  constexpr std::string_view kName = "content-encoding:";
  const std::string_view line(data, length);
  if (line.starts_with("HTTP/")) {
    encoding.clear();
  } else if (line.size() >= kName.size()) {
    std::string lower;
    for (const char c : line) {
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
    if (lower.starts_with(kName)) {
      encoding = lower.substr(kName.size());
    }
  }
  return length;
}

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
    if (produced > limit - out.size()) {
      return Inflated::kTooLarge;
    }
    try {
      out.append(buffer, produced);
    } catch (const std::bad_alloc&) {
      return Inflated::kOutOfMemory;
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

// Decodes `body` by `coding` in place; an empty text when it is fine, else why not.
std::string DecodeBody(Coding coding, std::string& body, std::size_t limit) {
  if (coding == Coding::kIdentity || body.empty()) {
    return {};
  }
  if (coding == Coding::kUnsupported) {
    return "the server sent the list in an encoding that was not asked for";
  }
  std::string decoded;
  Inflated result = InflateStream(body, 15 + 32, limit, decoded);
  if (result == Inflated::kCorrupt && coding == Coding::kDeflate && decoded.empty()) {
    result = InflateStream(body, -15, limit, decoded);  // deflate sent without its zlib frame
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
      return "the list is larger than " + std::to_string(limit) + " bytes";
    case Inflated::kOutOfMemory:
      break;
  }
  return "not enough memory for the list";
}

// The last refusal (a 4xx or 5xx reply) of an FTP server, kept in its own words: the closing
// QUIT's reply comes after it, so libcurl's last response code no longer tells why.
std::size_t KeepRefusal(char* data, std::size_t size, std::size_t count, void* userData) {
  const std::size_t length = size * count;
  std::string_view line(data, length);
  while (line.ends_with('\n') || line.ends_with('\r')) {
    line.remove_suffix(1);
  }
  if (line.size() >= 3 && (line[0] == '4' || line[0] == '5')) {
    static_cast<std::string*>(userData)->assign(line.substr(0, 200));
  }
  return length;
}

struct LocalFile {
  FileHandle file;
  bool readFailed = false;
};

std::size_t ReadFromLocalFile(char* buffer, std::size_t size, std::size_t count, void* userData) {
  auto& local = *static_cast<LocalFile*>(userData);
  const std::size_t got = std::fread(buffer, 1, size * count, local.file.get());
  if (got == 0 && std::ferror(local.file.get()) != 0) {
    local.readFailed = true;
    return CURL_READFUNC_ABORT;
  }
  return got;
}

// libcurl's own words for a failure: the error buffer when it says something, else the
// generic text of the code.
std::string CurlError(CURLcode code, const char* errorBuffer) {
  return errorBuffer[0] != '\0' ? std::string(errorBuffer) : std::string(curl_easy_strerror(code));
}

long ResponseCode(CURL* easy) {
  long code = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

// Keeps only the characters a URL path segment may hold as they are; every other byte is
// percent-encoded so that spaces and any other character in a name reach the server intact.
std::string EncodePathSegment(std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : segment) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

// "ftp://" + server + the remote path. A path beginning with "/" starts at the server's root
// ("%2F" as the first directory); otherwise at the login directory. Empty segments ("a//b")
// are dropped, as a file system would.
std::string FtpUrl(std::string_view server, std::string_view remotePath) {
  std::string url = "ftp://";
  url += server;
  url += '/';
  if (remotePath.starts_with('/')) {
    url += "%2F";
  }
  bool first = true;
  while (!remotePath.empty()) {
    const std::size_t slash = remotePath.find('/');
    const std::string_view segment = remotePath.substr(0, slash);
    remotePath =
        slash == std::string_view::npos ? std::string_view{} : remotePath.substr(slash + 1);
    if (segment.empty()) {
      continue;
    }
    if (!first) {
      url += '/';
    }
    url += EncodePathSegment(segment);
    first = false;
  }
  return url;
}

// A server name is "host" or "host:port"; characters that would change the URL's meaning
// (a path, a query, credentials) make it unusable.
bool IsUsableServerName(std::string_view server) {
  if (server.empty()) {
    return false;
  }
  for (const char c : server) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || std::strchr("/\\?#@", c) != nullptr) {
      return false;
    }
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// Where a refused redirect from HTTPS pointed, when it pointed to plain HTTP.
std::string DowngradeTarget(CURL* easy) {
  const char* last = nullptr;
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &last);
  return last != nullptr && StartsWithNoCase(last, "http:") ? std::string(last) : std::string();
}

}  // namespace

struct Transfer::Impl {
  MultiHandle multi{CurlGlobal::Ready() ? curl_multi_init() : nullptr};
  std::chrono::milliseconds requestTimeout = kDefaultRequestTimeout;
  std::size_t maxBodyBytes = kDefaultMaxBodyBytes;
  std::string extraCaFile;

  // A fresh easy handle with what every transfer shares: the time-out, the error buffer,
  // no signals (safe beside a GUI's event loop), the trusted certificates. Empty when an
  // option is refused.
  EasyHandle NewEasy(char* errorBuffer) const {
    EasyHandle easy(multi ? curl_easy_init() : nullptr);
    if (!easy) {
      return easy;
    }
    errorBuffer[0] = '\0';
    EasyOptions options(easy.get());
    options.Set(CURLOPT_ERRORBUFFER, errorBuffer)
        .Set(CURLOPT_NOSIGNAL, 1L)
        .Set(CURLOPT_TIMEOUT_MS, static_cast<long>(requestTimeout.count()));
    if (!extraCaFile.empty()) {
      options.Set(CURLOPT_CAINFO, extraCaFile.c_str()).Set(CURLOPT_CAPATH, kSystemCaFolder);
    }
    return options.result() == CURLE_OK ? std::move(easy) : EasyHandle();
  }

  // Runs the transfer to its end, waiting on its sockets in short slices and asking
  // `keepGoing` between them.
  Completion Perform(CURL* easy, const KeepGoing& keepGoing) const {
    const Attachment attachment(multi.get(), easy);
    if (!attachment.attached()) {
      return {false, CURLE_OK, "libcurl could not start the transfer"};
    }
    for (;;) {
      int running = 0;
      CURLMcode status = curl_multi_perform(multi.get(), &running);
      if (status != CURLM_OK) {
        return {false, CURLE_OK, curl_multi_strerror(status)};
      }
      if (running == 0) {
        break;
      }
      status = curl_multi_poll(multi.get(), nullptr, 0, kWaitSliceMs, nullptr);
      if (status != CURLM_OK) {
        return {false, CURLE_OK, curl_multi_strerror(status)};
      }
      if (keepGoing && !keepGoing()) {
        return {true, CURLE_OK, {}};
      }
    }
    return {false, FinishedCode(easy), {}};
  }

  CURLcode FinishedCode(CURL* easy) const {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        return message->data.result;
      }
    }
    return CURLE_FAILED_INIT;
  }
};

Transfer::Transfer() : impl_(std::make_unique<Impl>()) {}
Transfer::~Transfer() = default;

void Transfer::SetRequestTimeout(std::chrono::milliseconds timeout) {
  impl_->requestTimeout = timeout;
}

void Transfer::SetMaxBodyBytes(std::size_t bytes) {
  impl_->maxBodyBytes = bytes;
}

void Transfer::SetExtraCaFile(std::filesystem::path pemFile) {
  impl_->extraCaFile = pemFile.string();
}

TransferResult Transfer::Get(std::string_view url, const KeepGoing& keepGoing) {
  const std::string address(url);
  const std::string failed = "download of " + address + " failed: ";
  char errorBuffer[CURL_ERROR_SIZE];
  const EasyHandle easy = impl_->NewEasy(errorBuffer);
  if (!easy) {
    return Failure(failed + "libcurl could not be initialised");
  }
  Body body{{}, impl_->maxBodyBytes};
  std::string encoding;
  // A list fetched over TLS must not be handed over in clear text on the way.
  const bool secure = StartsWithNoCase(address, "https:");
  const CURLcode setup = EasyOptions(easy.get())
                             .Set(CURLOPT_URL, address.c_str())
                             .Set(CURLOPT_PROTOCOLS_STR, "http,https")
                             .Set(CURLOPT_FOLLOWLOCATION, 1L)
                             .Set(CURLOPT_MAXREDIRS, kMaxRedirects)
                             .Set(CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https")
                             .Set(CURLOPT_ACCEPT_ENCODING, "gzip, deflate")
                             .Set(CURLOPT_HTTP_CONTENT_DECODING, 0L)
                             .Set(CURLOPT_HEADERFUNCTION, &KeepContentEncoding)
                             .Set(CURLOPT_HEADERDATA, &encoding)
                             .Set(CURLOPT_USERAGENT, "Palisor/" PALISOR_VERSION)
                             .Set(CURLOPT_WRITEFUNCTION, &AppendToBody)
                             .Set(CURLOPT_WRITEDATA, &body)
                             .result();
  if (setup != CURLE_OK) {
    return Failure(failed + curl_easy_strerror(setup));
  }

  const Completion done = impl_->Perform(easy.get(), keepGoing);
  if (done.aborted) {
    return {TransferStatus::kAborted, {}, {}};
  }
  if (!done.multiError.empty()) {
    return Failure(failed + done.multiError);
  }
  if (body.tooLarge) {
    return Failure(failed + "the list is larger than " + std::to_string(body.limit) + " bytes");
  }
  if (body.outOfMemory) {
    return Failure(failed + "not enough memory for the list");
  }
  if (done.code == CURLE_UNSUPPORTED_PROTOCOL && secure) {
    if (const std::string target = DowngradeTarget(easy.get()); !target.empty()) {
      return Failure(failed + "the server redirected it to " + target +
                     ", and a list fetched over https is never fetched over plain http");
    }
  }
  if (done.code != CURLE_OK) {
    return Failure(failed + CurlError(done.code, errorBuffer));
  }
  // An error page is not a list: written out it would become "deny from <html>" lines.
  const long status = ResponseCode(easy.get());
  if (status < 200 || status > 299) {
    return Failure(failed + "the server answered with HTTP status " + std::to_string(status));
  }
  if (std::string why = DecodeBody(CodingNamed(encoding), body.bytes, body.limit); !why.empty()) {
    return Failure(failed + why);
  }
  return {TransferStatus::kOk, std::move(body.bytes), {}};
}

TransferResult Transfer::Put(const FtpUpload& upload, const KeepGoing& keepGoing) {
  const std::string target = "ftp://" + upload.server + upload.remotePath;
  const std::string failed =
      "upload of " + upload.localFile.string() + " to " + target + " failed: ";
  if (!IsUsableServerName(upload.server)) {
    return Failure(failed + "\"" + upload.server + "\" is not a usable server name");
  }
  LocalFile local{FileHandle(std::fopen(upload.localFile.c_str(), "rb"))};
  struct stat info {};
  if (!local.file || fstat(fileno(local.file.get()), &info) != 0) {
    return Failure(failed + "cannot open the local file: " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return Failure(failed + "the local file is not a regular file");
  }
  char errorBuffer[CURL_ERROR_SIZE];
  const EasyHandle easy = impl_->NewEasy(errorBuffer);
  if (!easy) {
    return Failure(failed + "libcurl could not be initialised");
  }
  const std::string url = FtpUrl(upload.server, upload.remotePath);
  std::string refusal;
  // Binary and passive are libcurl's defaults. A connection that is not kept ends with QUIT
  // as soon as the transfer is done.
  const CURLcode setup = EasyOptions(easy.get())
                             .Set(CURLOPT_URL, url.c_str())
                             .Set(CURLOPT_PROTOCOLS_STR, "ftp")
                             .Set(CURLOPT_USERNAME, upload.user.c_str())
                             .Set(CURLOPT_PASSWORD, upload.password.c_str())
                             .Set(CURLOPT_UPLOAD, 1L)
                             .Set(CURLOPT_TRANSFERTEXT, 0L)
                             .Set(CURLOPT_READFUNCTION, &ReadFromLocalFile)
                             .Set(CURLOPT_READDATA, &local)
                             .Set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(info.st_size))
                             .Set(CURLOPT_FORBID_REUSE, 1L)
                             .Set(CURLOPT_HEADERFUNCTION, &KeepRefusal)
                             .Set(CURLOPT_HEADERDATA, &refusal)
                             .result();
  if (setup != CURLE_OK) {
    return Failure(failed + curl_easy_strerror(setup));
  }

  const Completion done = impl_->Perform(easy.get(), keepGoing);
  if (done.aborted) {
    return {TransferStatus::kAborted, {}, {}};
  }
  if (!done.multiError.empty()) {
    return Failure(failed + done.multiError);
  }
  if (local.readFailed) {
    return Failure(failed + "reading the local file failed");
  }
  if (done.code != CURLE_OK) {
    std::string why = failed + CurlError(done.code, errorBuffer);
    if (!refusal.empty()) {
      why += " (the server answered \"" + refusal + "\")";
    }
    return Failure(std::move(why));
  }
  return {TransferStatus::kOk, {}, {}};
}

}  // namespace palisor
