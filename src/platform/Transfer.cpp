#include "platform/Transfer.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <utility>
#include <vector>

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

// Asked by libcurl also while it waits inside one call (an FTP server's final reply), so a
// stop is seen there too.
int AskKeepGoing(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto& keepGoing = *static_cast<const Transfer::KeepGoing*>(userData);
  return keepGoing() ? 0 : 1;
}

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

// The segments of a server path, percent-encoded and joined by "/"; empty segments ("a//b")
// are dropped, as a file system would.
std::string EncodePath(std::string_view path) {
  std::string encoded;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view segment = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    if (!segment.empty()) {
      if (!encoded.empty()) {
        encoded += '/';
      }
      encoded += EncodePathSegment(segment);
    }
  }
  return encoded;
}

std::string_view SchemeOf(ServerProtocol protocol) {
  switch (protocol) {
    case ServerProtocol::kFtps:
      return "ftps://";
    case ServerProtocol::kSftp:
      return "sftp://";
    case ServerProtocol::kFtp:
    case ServerProtocol::kFtpes:
      break;
  }
  return "ftp://";
}

// The URL of a server path. A path beginning with "/" starts at the server's root (FTP:
// "%2F" as the first directory); otherwise at the login directory (SFTP: "~/").
std::string ServerUrl(const ServerAddress& server, std::string_view path) {
  std::string url(SchemeOf(server.protocol));
  url += server.hostAndPort;
  url += '/';
  const bool fromRoot = path.starts_with('/');
  if (server.protocol == ServerProtocol::kSftp) {
    url += fromRoot ? "" : "~/";
  } else if (fromRoot) {
    url += "%2F";
  }
  return url + EncodePath(path);
}

// The URL of a folder: libcurl changes into it and transfers nothing.
std::string FolderUrl(const ServerAddress& server, std::string_view folder) {
  std::string url = ServerUrl(server, folder);
  if (!url.ends_with('/')) {
    url += '/';
  }
  return url;
}

// A host name or address, with an optional port; characters that would change the URL's
// meaning (a path, a query, credentials) make it unusable.
bool IsUsableHostAndPort(std::string_view server) {
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

// A server path split into its folder and its file name: "/a/.htaccess" is "/a" and
// ".htaccess", "/.htaccess" is "/" and ".htaccess", a bare name lives in the login folder.
struct ServerPath {
  std::string folder;
  std::string name;
};

ServerPath SplitServerPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return {{}, std::string(path)};
  }
  return {std::string(path.substr(0, slash == 0 ? 1 : slash)), std::string(path.substr(slash + 1))};
}

// A line break or NUL in a name would end the command that carries it and start another.
bool IsSafeInCommands(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// What a server session borrows from the transfer layer: its easy handles, set up as every
// transfer's, and its way of waiting on a transfer.
struct SessionParts {
  std::function<EasyHandle(char* errorBuffer)> newEasy;
  std::function<Completion(CURL*, const Transfer::KeepGoing&, CURLM*)> perform;
};

// "ftp://host/folder/file" and the like, as failures name a server file: with the scheme the
// user wrote, so a failure over TLS never reads like one over plain FTP.
std::string DisplayUrl(const ServerAddress& server, std::string_view remotePath) {
  const std::string_view scheme =
      server.protocol == ServerProtocol::kFtpes ? "ftpes://" : SchemeOf(server.protocol);
  return std::string(scheme) + server.hostAndPort + (remotePath.starts_with('/') ? "" : "/") +
         std::string(remotePath);
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
  // `keepGoing` between them. A server session brings its own multi handle (`on`), so that
  // its connection ends with the session.
  Completion Perform(CURL* easy, const KeepGoing& keepGoing, CURLM* on = nullptr) const {
    if (keepGoing) {
      const CURLcode set = EasyOptions(easy)
                               .Set(CURLOPT_XFERINFOFUNCTION, &AskKeepGoing)
                               .Set(CURLOPT_XFERINFODATA, &keepGoing)
                               .Set(CURLOPT_NOPROGRESS, 0L)
                               .result();
      if (set != CURLE_OK) {
        return {false, CURLE_OK, curl_easy_strerror(set)};
      }
    }
    CURLM* const through = on != nullptr ? on : multi.get();
    const Attachment attachment(through, easy);
    if (!attachment.attached()) {
      return {false, CURLE_OK, "libcurl could not start the transfer"};
    }
    for (;;) {
      int running = 0;
      CURLMcode status = curl_multi_perform(through, &running);
      if (status != CURLM_OK) {
        return {false, CURLE_OK, curl_multi_strerror(status)};
      }
      if (running == 0) {
        break;
      }
      status = curl_multi_poll(through, nullptr, 0, kWaitSliceMs, nullptr);
      if (status != CURLM_OK) {
        return {false, CURLE_OK, curl_multi_strerror(status)};
      }
      if (keepGoing && !keepGoing()) {
        return {true, CURLE_OK, {}};
      }
    }
    const CURLcode code = FinishedCode(through, easy);
    return {code == CURLE_ABORTED_BY_CALLBACK, code, {}};
  }

  SessionParts ForSession() const {
    return {[this](char* errorBuffer) { return NewEasy(errorBuffer); },
            [this](CURL* easy, const KeepGoing& keepGoing, CURLM* on) {
              return Perform(easy, keepGoing, on);
            }};
  }

  static CURLcode FinishedCode(CURLM* multi, CURL* easy) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
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

std::optional<ServerAddress> ParseServerName(std::string_view name) {
  static constexpr std::pair<std::string_view, ServerProtocol> kSchemes[] = {
      {"ftp://", ServerProtocol::kFtp},
      {"ftpes://", ServerProtocol::kFtpes},
      {"ftps://", ServerProtocol::kFtps},
      {"sftp://", ServerProtocol::kSftp},
  };
  ServerAddress server;
  for (const auto& [scheme, protocol] : kSchemes) {
    if (StartsWithNoCase(name, scheme)) {
      server.protocol = protocol;
      name.remove_prefix(scheme.size());
      break;
    }
  }
  if (!IsUsableHostAndPort(name)) {
    return std::nullopt;
  }
  server.hostAndPort = name;
  return server;
}

namespace {

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistHandle = std::unique_ptr<curl_slist, SlistDeleter>;

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

// What the SFTP host-key check met on this session's connection.
struct HostKeyCheck {
  bool recorded = false;  // the server was not known yet: its key is now in the file
  bool changed = false;   // the server shows another key than the one recorded
};

int CheckHostKey(CURL*, const curl_khkey*, const curl_khkey*, curl_khmatch match, void* data) {
  auto& check = *static_cast<HostKeyCheck*>(data);
  switch (match) {
    case CURLKHMATCH_OK:
      return CURLKHSTAT_FINE;
    case CURLKHMATCH_MISSING:
      check.recorded = true;
      return CURLKHSTAT_FINE_ADD_TO_FILE;
    case CURLKHMATCH_MISMATCH:
    case CURLKHMATCH_LAST:
      break;
  }
  check.changed = true;
  return CURLKHSTAT_REJECT;
}

// Remembers whether a step ended because the user asked to stop, which libcurl may report
// as an aborted callback or as its own error from the half-done transfer.
class StopWatch final {
 public:
  explicit StopWatch(const Transfer::KeepGoing& keepGoing) : keepGoing_(keepGoing) {}

  bool Ask() {
    stopped_ = keepGoing_ && !keepGoing_();
    return !stopped_;
  }
  bool stopped() const { return stopped_; }

 private:
  const Transfer::KeepGoing& keepGoing_;
  bool stopped_ = false;
};

// How one step of a server session ended.
struct Step {
  bool aborted = false;
  CURLcode code = CURLE_OK;
  std::string why;  // for a failure: libcurl's words and the server's refusal
  bool ok() const { return !aborted && why.empty(); }
};

// The server commands of one step, in the syntax of the protocol. FTP commands run in the
// target's folder and name files there; SFTP commands take whole paths, quoted.
class Commands final {
 public:
  Commands(ServerProtocol protocol, std::string folder)
      : sftp_(protocol == ServerProtocol::kSftp), folder_(std::move(folder)) {}

  // A command whose failure is ignored starts with "*".
  Commands& Rename(std::string_view from, std::string_view to) {
    if (sftp_) {
      Add("rename " + Quoted(from) + " " + Quoted(to));
    } else {
      Add("RNFR " + std::string(from));
      Add("RNTO " + std::string(to));
    }
    return *this;
  }
  Commands& Delete(std::string_view name, bool mayFail = false) {
    Add((mayFail ? "*" : "") + (sftp_ ? "rm " + Quoted(name) : "DELE " + std::string(name)));
    return *this;
  }
  curl_slist* list() const { return list_.get(); }
  bool built() const { return built_; }

 private:
  void Add(const std::string& command) {
    curl_slist* const longer = curl_slist_append(list_.get(), command.c_str());
    if (longer == nullptr) {
      built_ = false;
      return;
    }
    list_.release();
    list_.reset(longer);
  }
  // libcurl's SFTP commands read a double-quoted path with \", \' and \\ escaped.
  std::string Quoted(std::string_view name) const {
    std::string path = folder_;
    if (!path.empty() && !path.ends_with('/')) {
      path += '/';
    }
    path += name;
    std::string quoted = "\"";
    for (const char c : path) {
      if (c == '"' || c == '\'' || c == '\\') {
        quoted += '\\';
      }
      quoted += c;
    }
    return quoted + '"';
  }

  bool sftp_;
  std::string folder_;
  SlistHandle list_;
  bool built_ = true;
};

// One login on a file server for the steps of one job. The session's own multi handle keeps
// its connection from one step to the next and closes it (FTP: QUIT) when the session ends.
class ServerSession final {
 public:
  ServerSession(SessionParts parts, const ServerLogin& login, ServerAddress server)
      : parts_(std::move(parts)),
        login_(login),
        server_(std::move(server)),
        multi_(curl_multi_init()),
        easy_(parts_.newEasy(errorBuffer_)) {}

  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // Sends `source` to `to`, then runs `after` in its folder.
  Step Upload(const ServerPath& to, LocalFile& source, curl_off_t size, const Commands& after,
              const Transfer::KeepGoing& keepGoing) {
    const std::string url = ServerUrl(server_, JoinPath(to));
    return Perform(EasyOptions(easy_.get())
                       .Set(CURLOPT_URL, url.c_str())
                       .Set(CURLOPT_UPLOAD, 1L)
                       .Set(CURLOPT_NOBODY, 0L)
                       .Set(CURLOPT_READFUNCTION, &ReadFromLocalFile)
                       .Set(CURLOPT_READDATA, &source)
                       .Set(CURLOPT_INFILESIZE_LARGE, size)
                       .Set(CURLOPT_POSTQUOTE, after.list()),
                   after.built(), keepGoing);
  }

  Step Download(const ServerPath& from, Body& body, const Transfer::KeepGoing& keepGoing) {
    const std::string url = ServerUrl(server_, JoinPath(from));
    return Perform(EasyOptions(easy_.get())
                       .Set(CURLOPT_URL, url.c_str())
                       .Set(CURLOPT_UPLOAD, 0L)
                       .Set(CURLOPT_NOBODY, 0L)
                       .Set(CURLOPT_WRITEFUNCTION, &AppendToBody)
                       .Set(CURLOPT_WRITEDATA, &body)
                       .Set(CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr)),
                   true, keepGoing);
  }

  // Runs `commands` in `folder` and transfers nothing.
  Step Run(const std::string& folder, const Commands& commands,
           const Transfer::KeepGoing& keepGoing) {
    const std::string url = FolderUrl(server_, folder);
    return Perform(EasyOptions(easy_.get())
                       .Set(CURLOPT_URL, url.c_str())
                       .Set(CURLOPT_UPLOAD, 0L)
                       .Set(CURLOPT_NOBODY, 1L)
                       .Set(CURLOPT_POSTQUOTE, commands.list()),
                   commands.built(), keepGoing);
  }

  void SetTimeout(std::chrono::milliseconds timeout) {
    EasyOptions(easy_.get()).Set(CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  }

  // What the user must hear of: a host key recorded for the first time.
  std::vector<std::string> Notes() const {
    if (!hostKey_.recorded) {
      return {};
    }
    return {"the SFTP server " + server_.hostAndPort + " was not known yet: its host key is now " +
            "recorded in " + login_.knownHosts.string() + " and checked from now on"};
  }

 private:
  static std::string JoinPath(const ServerPath& path) {
    if (path.folder.empty()) {
      return path.name;
    }
    return path.folder.ends_with('/') ? path.folder + path.name : path.folder + "/" + path.name;
  }

  // What every step shares: the protocol, the login and the checks of the server.
  EasyOptions& Common(EasyOptions& options) {
    options.Set(CURLOPT_USERNAME, login_.user.c_str())
        .Set(CURLOPT_PASSWORD, login_.password.c_str())
        .Set(CURLOPT_HEADERFUNCTION, &KeepRefusal)
        .Set(CURLOPT_HEADERDATA, &refusal_);
    switch (server_.protocol) {
      case ServerProtocol::kSftp:
        return options.Set(CURLOPT_PROTOCOLS_STR, "sftp")
            .Set(CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PASSWORD))
            .Set(CURLOPT_SSH_KNOWNHOSTS, login_.knownHosts.c_str())
            .Set(CURLOPT_SSH_KEYFUNCTION, &CheckHostKey)
            .Set(CURLOPT_SSH_KEYDATA, &hostKey_);
      case ServerProtocol::kFtps:
        return options.Set(CURLOPT_PROTOCOLS_STR, "ftps")
            .Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
      case ServerProtocol::kFtpes:
        return options.Set(CURLOPT_PROTOCOLS_STR, "ftp")
            .Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
      case ServerProtocol::kFtp:
        break;
    }
    return options.Set(CURLOPT_PROTOCOLS_STR, "ftp");
  }

  Step Perform(EasyOptions options, bool commandsBuilt, const Transfer::KeepGoing& keepGoing) {
    if (!easy_ || !multi_) {
      return {false, CURLE_FAILED_INIT, "libcurl could not be initialised"};
    }
    if (!commandsBuilt) {
      return {false, CURLE_OUT_OF_MEMORY, "not enough memory for the server commands"};
    }
    const CURLcode setup = Common(options).result();
    if (setup != CURLE_OK) {
      return {false, setup, curl_easy_strerror(setup)};
    }
    StopWatch watch(keepGoing);
    errorBuffer_[0] = '\0';
    refusal_.clear();
    const Completion done = parts_.perform(
        easy_.get(), [&watch] { return watch.Ask(); }, multi_.get());
    if (done.aborted || watch.stopped()) {
      return {true, CURLE_OK, {}};
    }
    if (!done.multiError.empty()) {
      return {false, CURLE_OK, done.multiError};
    }
    if (done.code == CURLE_OK) {
      return {};
    }
    return {false, done.code, Describe(done.code)};
  }

  std::string Describe(CURLcode code) const {
    if (hostKey_.changed) {
      return "the SFTP server " + server_.hostAndPort + " shows another host key than the one " +
             "recorded in " + login_.knownHosts.string() +
             "; if its key was changed on purpose, delete the server's line from that file and " +
             "run again to record the new key";
    }
    std::string why = CurlError(code, errorBuffer_);
    if (!refusal_.empty()) {
      why += " (the server answered \"" + refusal_ + "\")";
    }
    return why;
  }

  SessionParts parts_;
  const ServerLogin& login_;
  ServerAddress server_;
  MultiHandle multi_;  // outlives the easy handle, whose connection it holds
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  EasyHandle easy_;
  std::string refusal_;
  HostKeyCheck hostKey_;
};

// A temporary file left behind is harmless (the web server never serves ".ht" names) and the
// next upload writes over it, so removing it is tried only briefly; after the user ended the
// program, more briefly still.
constexpr std::chrono::milliseconds kTidyLimit{10'000};
constexpr std::chrono::milliseconds kTidyLimitWhenEnding{500};

void RemoveTemporary(ServerSession& session, const Commands& removal, const std::string& folder,
                     bool ending, const Transfer::KeepGoing& keepGoing) {
  session.SetTimeout(ending ? kTidyLimitWhenEnding : kTidyLimit);
  static_cast<void>(session.Run(folder, removal, ending ? Transfer::KeepGoing{} : keepGoing));
}

// A server that will not rename over an existing file: the live file is moved aside, the new
// one renamed into its place and the old one deleted; when the second rename fails, the live
// file is moved back.
Step ReplaceInTwoSteps(ServerSession& session, ServerProtocol protocol, const ServerPath& target,
                       const FtpUpload& upload, const Transfer::KeepGoing& keepGoing) {
  Commands aside(protocol, target.folder);
  aside.Delete(upload.asideName, true).Rename(target.name, upload.asideName);
  if (Step moved = session.Run(target.folder, aside, keepGoing); !moved.ok()) {
    return moved;
  }
  Commands into(protocol, target.folder);
  into.Rename(upload.temporaryName, target.name).Delete(upload.asideName, true);
  Step placed = session.Run(target.folder, into, keepGoing);
  if (!placed.ok()) {
    Commands back(protocol, target.folder);
    back.Rename(upload.asideName, target.name);
    if (const Step restored = session.Run(target.folder, back, {}); !restored.ok()) {
      // The site has no access file now: that must be heard even when the user ended the run.
      placed.why = (placed.aborted ? std::string("the rename was abandoned") : placed.why) +
                   "; moving the live file back failed too, it waits as " + upload.asideName +
                   ": " + restored.why;
      placed.aborted = false;
    }
  }
  return placed;
}

ServerResult Ended(TransferStatus status, std::string body, std::string error,
                   std::vector<std::string> notes) {
  ServerResult result;
  result.status = status;
  result.body = std::move(body);
  result.error = std::move(error);
  result.notes = std::move(notes);
  return result;
}
ServerResult Succeeded(std::string body, std::vector<std::string> notes) {
  return Ended(TransferStatus::kOk, std::move(body), {}, std::move(notes));
}
ServerResult ServerFailure(std::string why) {
  return Ended(TransferStatus::kFailed, {}, std::move(why), {});
}
ServerResult StepFailure(const std::string& failed, const Step& step,
                         std::vector<std::string> notes) {
  if (step.aborted) {
    return Ended(TransferStatus::kAborted, {}, {}, std::move(notes));
  }
  return Ended(TransferStatus::kFailed, {}, failed + step.why, std::move(notes));
}

// The bytes an upload sends: the local file, or bytes held in memory.
FileHandle OpenSource(const FtpUpload& upload) {
  if (upload.bytes) {
    // fmemopen reads what it is given; the const is only its signature's.
    return FileHandle(
        fmemopen(const_cast<char*>(upload.bytes->data()), upload.bytes->size(), "rb"));
  }
  return FileHandle(std::fopen(upload.localFile.c_str(), "rb"));
}

}  // namespace

ServerResult Transfer::Put(const FtpUpload& upload, const KeepGoing& keepGoing) {
  const std::optional<ServerAddress> server = ParseServerName(upload.login.server);
  const std::string source = upload.bytes ? "the previous file" : upload.localFile.string();
  const std::string target = server ? DisplayUrl(*server, upload.remotePath) : upload.remotePath;
  const std::string failed = "upload of " + source + " to " + target + " failed: ";
  if (!server) {
    return ServerFailure(failed + "\"" + upload.login.server + "\" is not a usable server name");
  }
  const ServerPath path = SplitServerPath(upload.remotePath);
  if (path.name.empty() || !IsSafeInCommands(upload.remotePath) ||
      !IsSafeInCommands(upload.temporaryName) || !IsSafeInCommands(upload.asideName)) {
    return ServerFailure(failed + "the file name on the server is empty or holds a line break");
  }
  LocalFile local{OpenSource(upload)};
  if (!local.file) {
    return ServerFailure(failed + "cannot open the local file: " + std::strerror(errno));
  }
  curl_off_t size = 0;
  if (upload.bytes) {
    size = static_cast<curl_off_t>(upload.bytes->size());
  } else {
    struct stat info {};
    if (fstat(fileno(local.file.get()), &info) != 0) {
      return ServerFailure(failed + "cannot open the local file: " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
      return ServerFailure(failed + "the local file is not a regular file");
    }
    size = static_cast<curl_off_t>(info.st_size);
  }

  ServerSession session(impl_->ForSession(), upload.login, *server);
  Commands rename(server->protocol, path.folder);
  rename.Rename(upload.temporaryName, path.name);
  Step sent = session.Upload({path.folder, upload.temporaryName}, local, size, rename, keepGoing);
  if (!sent.ok() && sent.code == CURLE_QUOTE_ERROR) {
    // Every byte arrived; only the rename over the live file was refused.
    sent = ReplaceInTwoSteps(session, server->protocol, path, upload, keepGoing);
  }
  if (sent.ok()) {
    return Succeeded({}, session.Notes());
  }
  if (local.readFailed) {
    sent.why = "reading the local file failed";
  }
  Commands removal(server->protocol, path.folder);
  removal.Delete(upload.temporaryName, true);
  RemoveTemporary(session, removal, path.folder, sent.aborted, keepGoing);
  return StepFailure(failed, sent, session.Notes());
}

ServerResult Transfer::Fetch(const ServerLogin& login, std::string_view remotePath,
                             const KeepGoing& keepGoing) {
  const std::optional<ServerAddress> server = ParseServerName(login.server);
  if (!server) {
    return ServerFailure("\"" + login.server + "\" is not a usable server name");
  }
  const std::string failed = "reading " + DisplayUrl(*server, remotePath) + " failed: ";
  ServerSession session(impl_->ForSession(), login, *server);
  Body body{{}, impl_->maxBodyBytes};
  const Step got = session.Download(SplitServerPath(remotePath), body, keepGoing);
  if (got.ok()) {
    return Succeeded(std::move(body.bytes), session.Notes());
  }
  ServerResult result = StepFailure(failed, got, session.Notes());
  result.missing = got.code == CURLE_REMOTE_FILE_NOT_FOUND;
  if (body.tooLarge) {
    result.error = failed + "the file is larger than " + std::to_string(body.limit) + " bytes";
  }
  return result;
}

ServerResult Transfer::Remove(const ServerLogin& login, std::string_view remotePath,
                              const KeepGoing& keepGoing) {
  const std::optional<ServerAddress> server = ParseServerName(login.server);
  if (!server) {
    return ServerFailure("\"" + login.server + "\" is not a usable server name");
  }
  const std::string failed = "deleting " + DisplayUrl(*server, remotePath) + " failed: ";
  const ServerPath path = SplitServerPath(remotePath);
  if (!IsSafeInCommands(remotePath)) {
    return ServerFailure(failed + "the file name holds a line break");
  }
  ServerSession session(impl_->ForSession(), login, *server);
  Commands removal(server->protocol, path.folder);
  removal.Delete(path.name);
  const Step removed = session.Run(path.folder, removal, keepGoing);
  if (removed.ok()) {
    return Succeeded({}, session.Notes());
  }
  return StepFailure(failed, removed, session.Notes());
}

ServerResult Transfer::Check(std::string_view url, const KeepGoing& keepGoing) {
  const std::string address(url);
  const std::string failed = "request of " + address + " failed: ";
  char errorBuffer[CURL_ERROR_SIZE];
  const EasyHandle easy = impl_->NewEasy(errorBuffer);
  if (!easy) {
    return ServerFailure(failed + "libcurl could not be initialised");
  }
  const CURLcode setup = EasyOptions(easy.get())
                             .Set(CURLOPT_URL, address.c_str())
                             .Set(CURLOPT_PROTOCOLS_STR, "http,https")
                             .Set(CURLOPT_USERAGENT, "Palisor/" PALISOR_VERSION)
                             .Set(CURLOPT_WRITEFUNCTION, &DiscardBody)
                             .result();
  if (setup != CURLE_OK) {
    return ServerFailure(failed + curl_easy_strerror(setup));
  }
  const Completion done = impl_->Perform(easy.get(), keepGoing);
  if (done.aborted) {
    return StepFailure(failed, {true, CURLE_OK, {}}, {});
  }
  if (!done.multiError.empty()) {
    return ServerFailure(failed + done.multiError);
  }
  if (done.code != CURLE_OK) {
    return ServerFailure(failed + CurlError(done.code, errorBuffer));
  }
  ServerResult answered = Succeeded({}, {});
  answered.httpStatus = ResponseCode(easy.get());
  return answered;
}

}  // namespace palisor
