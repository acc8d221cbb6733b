#include "platform/Transfer.h"

#include <utility>

#include "platform/HttpDecoding.h"
#include "platform/ServerSessions.h"
#include "platform/Text.h"

namespace palisor {
namespace {

using curl::EasyOptions;

constexpr long kMaxRedirects = 5;

std::size_t KeepContentEncoding(char* data, std::size_t size, std::size_t count, void* userData) {
  const std::size_t length = size * count;
  static_cast<ContentEncoding*>(userData)->Take(std::string_view(data, length));
  return length;
}

// Where a refused redirect from HTTPS pointed, when it pointed to plain HTTP: the server's
// words, escaped.
std::string DowngradeTarget(CURL* easy) {
  const char* last = nullptr;
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &last);
  return last != nullptr && StartsWithNoCase(last, "http:") ? EscapeBytes(WithoutCredentials(last))
                                                            : std::string();
}

BodyLimit TighterLimit(std::size_t own, const std::optional<BodyLimit>& tighter) {
  if (tighter && tighter->bytes < own) {
    return *tighter;
  }
  return {own, "the list is larger than " + std::to_string(own) + " bytes"};
}

}  // namespace

Transfer::Transfer() = default;

void Transfer::SetRequestTimeout(std::chrono::milliseconds timeout) {
  limits_.requestTimeout = timeout;
}

void Transfer::SetMaxBodyBytes(std::size_t bytes) {
  limits_.maxBodyBytes = bytes;
}

void Transfer::SetExtraCaFile(std::filesystem::path pemFile) {
  limits_.extraCaFile = pemFile.string();
}

Result<std::string> Transfer::Get(std::string_view url, const KeepGoing& keepGoing,
                                  const std::optional<BodyLimit>& tighter) {
  using Fetched = Result<std::string>;
  const std::string address(url);
  const std::string failed = "download of " + WithoutCredentials(address) + " failed: ";
  char errorBuffer[CURL_ERROR_SIZE];
  const curl::EasyHandle easy = curl::NewEasy(multi_, limits_, errorBuffer);
  if (!easy) {
    return Fetched::Failed(failed + "libcurl could not be initialised");
  }
  const BodyLimit limit = TighterLimit(limits_.maxBodyBytes, tighter);
  curl::Body body{{}, limit.bytes};
  ContentEncoding encoding;
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
                             .Set(CURLOPT_WRITEFUNCTION, &curl::AppendToBody)
                             .Set(CURLOPT_WRITEDATA, &body)
                             .result();
  if (setup != CURLE_OK) {
    return Fetched::Failed(failed + curl_easy_strerror(setup));
  }

  const curl::Completion done = curl::Perform(multi_, easy.get(), keepGoing);
  if (done.aborted) {
    return Fetched::Abandoned();
  }
  if (!done.multiError.empty()) {
    return Fetched::Failed(failed + done.multiError);
  }
  if (body.tooLarge) {
    return Fetched::Failed(failed + limit.pastIt);
  }
  if (body.outOfMemory) {
    return Fetched::Failed(failed + "not enough memory for the list");
  }
  if (done.code == CURLE_UNSUPPORTED_PROTOCOL && secure) {
    if (const std::string target = DowngradeTarget(easy.get()); !target.empty()) {
      return Fetched::Failed(failed + "the server redirected it to " + target +
                             ", and a list fetched over https is never fetched over plain http");
    }
  }
  if (done.code != CURLE_OK) {
    return Fetched::Failed(failed + curl::CurlError(done.code, errorBuffer));
  }
  // An error page is not a list: written out it would become "deny from <html>" lines.
  const long status = curl::ResponseCode(easy.get());
  if (status < 200 || status > 299) {
    return Fetched::Failed(failed + "the server answered with HTTP status " +
                           std::to_string(status));
  }
  if (std::string why = DecodeBody(encoding.coding(), body.bytes, limit); !why.empty()) {
    return Fetched::Failed(failed + why);
  }
  return Fetched::Ok(std::move(body.bytes));
}

Result<long> Transfer::Check(std::string_view url, const KeepGoing& keepGoing) {
  const std::string address(url);
  const std::string failed = "request of " + WithoutCredentials(address) + " failed: ";
  char errorBuffer[CURL_ERROR_SIZE];
  const curl::EasyHandle easy = curl::NewEasy(multi_, limits_, errorBuffer);
  if (!easy) {
    return Result<long>::Failed(failed + "libcurl could not be initialised");
  }
  const CURLcode setup = EasyOptions(easy.get())
                             .Set(CURLOPT_URL, address.c_str())
                             .Set(CURLOPT_PROTOCOLS_STR, "http,https")
                             .Set(CURLOPT_USERAGENT, "Palisor/" PALISOR_VERSION)
                             .Set(CURLOPT_WRITEFUNCTION, &curl::DiscardBody)
                             .result();
  if (setup != CURLE_OK) {
    return Result<long>::Failed(failed + curl_easy_strerror(setup));
  }
  const curl::Completion done = curl::Perform(multi_, easy.get(), keepGoing);
  if (done.aborted) {
    return Result<long>::Abandoned();
  }
  if (!done.multiError.empty()) {
    return Result<long>::Failed(failed + done.multiError);
  }
  if (done.code != CURLE_OK) {
    return Result<long>::Failed(failed + curl::CurlError(done.code, errorBuffer));
  }
  return Result<long>::Ok(curl::ResponseCode(easy.get()));
}

std::unique_ptr<FileSession> Transfer::OpenSession(const ServerAddress& server,
                                                   const ServerLogin& login) {
  return OpenServerSession(server, login, limits_);
}

}  // namespace palisor
