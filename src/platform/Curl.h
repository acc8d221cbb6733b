#pragma once

// libcurl's plumbing shared by the HTTP transfers and the file-server sessions: one owner per
// handle, the fail-closed option setter and the wait on a transfer in short slices.

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/KeepGoing.h"

namespace palisor::curl {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using SlistHandle = std::unique_ptr<curl_slist, SlistDeleter>;

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

// What every transfer shares.
struct Limits {
  std::chrono::milliseconds requestTimeout{600'000};
  std::size_t maxBodyBytes = std::size_t{256} << 20;
  std::string extraCaFile;  // PEM certificates trusted beside the system's; empty: none
};

// The sockets one easy handle has open. libcurl waits inside some calls (for an FTP server's
// final reply, for the reply to the closing QUIT) on a socket alone; shutting its sockets
// down ends such a wait at once.
class Sockets final {
 public:
  void ShutDown();
  // libcurl's socket callbacks, with the object as their data.
  static int Opened(void* sockets, curl_socket_t socket, curlsocktype purpose);
  static int Close(void* sockets, curl_socket_t socket);

 private:
  std::mutex mutex_;  // a stop comes from another thread
  std::vector<curl_socket_t> open_;
};

// A multi handle that a stop wakes: the sockets of its connections are shut down (they
// outlive each transfer in its cache of connections, and are closed through it) and its
// wait ends, also while it closes its connections. Empty when libcurl cannot be set up.
class Multi final {
 public:
  Multi();
  Multi(const Multi&) = delete;
  Multi& operator=(const Multi&) = delete;

  CURLM* get() const { return handle_.get(); }
  explicit operator bool() const { return handle_ != nullptr; }
  Sockets& sockets() { return *sockets_; }
  // From now on, a stop of `keepGoing` wakes the handle.
  void WakeOnStop(const KeepGoing& keepGoing);

 private:
  struct Wake {
    Multi* multi;
    void operator()() const;
  };

  // In this order: the handle goes first, while the stop still wakes it and its sockets are
  // still known.
  std::unique_ptr<Sockets> sockets_;
  std::stop_token wakesOn_;
  std::optional<std::stop_callback<Wake>> wake_;
  MultiHandle handle_;
};

// A fresh easy handle of `multi` with the time-out, the error buffer, no signals (safe beside
// a GUI's event loop), the trusted certificates and its sockets known. Empty when an option
// is refused.
EasyHandle NewEasy(Multi& multi, const Limits& limits, char* errorBuffer);

// How one transfer through a multi handle ended.
struct Completion {
  bool aborted = false;
  CURLcode code = CURLE_OK;
  std::string multiError;  // the multi interface itself failed
};

// Runs the transfer to its end through `multi`, waiting on its sockets in short slices and
// asking `keepGoing` between them and from libcurl's progress callback; a stop wakes the
// wait at once (Multi::WakeOnStop).
Completion Perform(Multi& multi, CURL* easy, const KeepGoing& keepGoing);

// The downloaded bytes, bounded so that a huge (or endlessly decompressing) body fails.
struct Body {
  std::string bytes;
  std::size_t limit = 0;
  bool tooLarge = false;
  bool outOfMemory = false;
};
std::size_t AppendToBody(char* data, std::size_t size, std::size_t count, void* body);

std::size_t DiscardBody(char* data, std::size_t size, std::size_t count, void* unused);

// libcurl's own words for a failure: the error buffer when it says something, else the
// generic text of the code.
std::string CurlError(CURLcode code, const char* errorBuffer);

long ResponseCode(CURL* easy);

}  // namespace palisor::curl
