#include "platform/Curl.h"

#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "platform/Text.h"

namespace palisor::curl {
namespace {

// Debian's hashed folder of the system's certificates, kept when the bundle file is replaced
// by the extra certificates.
constexpr const char* kSystemCaFolder = "/etc/ssl/certs";
// Short enough for a responsive window, long enough that waiting costs no CPU.
constexpr int kWaitSliceMs = 50;

// libcurl's process-wide state: set up once before the first handle, torn down at exit
// after every handle (a function-local static outlives the objects built after it).
class Global final {
 public:
  static bool Ready() {
    static const Global global;
    return global.ready_;
  }
  Global(const Global&) = delete;
  Global& operator=(const Global&) = delete;

 private:
  Global() : ready_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
  ~Global() {
    if (ready_) {
      curl_global_cleanup();
    }
  }
  bool ready_;
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

int AskKeepGoing(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto& keepGoing = *static_cast<const KeepGoing*>(userData);
  return keepGoing() ? 0 : 1;
}

CURLcode FinishedCode(CURLM* multi, CURL* easy) {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
      return message->data.result;
    }
  }
  return CURLE_FAILED_INIT;
}

}  // namespace

Multi::Multi()
    : sockets_(std::make_unique<Sockets>()),
      handle_(Global::Ready() ? curl_multi_init() : nullptr) {}

void Sockets::ShutDown() {
  const std::lock_guard lock(mutex_);
  for (const curl_socket_t socket : open_) {
    ::shutdown(socket, SHUT_RDWR);
  }
}

int Sockets::Opened(void* sockets, curl_socket_t socket, curlsocktype) {
  auto& self = *static_cast<Sockets*>(sockets);
  const std::lock_guard lock(self.mutex_);
  self.open_.push_back(socket);
  return CURL_SOCKOPT_OK;
}

// Closed under the lock, so that a stop never shuts down a number the system has given to
// another file meanwhile.
int Sockets::Close(void* sockets, curl_socket_t socket) {
  auto& self = *static_cast<Sockets*>(sockets);
  const std::lock_guard lock(self.mutex_);
  std::erase(self.open_, socket);
  return ::close(socket);
}

void Multi::Wake::operator()() const {
  multi->sockets().ShutDown();
  curl_multi_wakeup(multi->get());
}

void Multi::WakeOnStop(const KeepGoing& keepGoing) {
  if (!keepGoing || keepGoing.token() == wakesOn_) {
    return;
  }
  wake_.reset();
  wakesOn_ = keepGoing.token();
  wake_.emplace(wakesOn_, Wake{this});
}

EasyHandle NewEasy(Multi& multi, const Limits& limits, char* errorBuffer) {
  EasyHandle easy(multi && Global::Ready() ? curl_easy_init() : nullptr);
  if (!easy) {
    return {};
  }
  errorBuffer[0] = '\0';
  EasyOptions options(easy.get());
  options.Set(CURLOPT_ERRORBUFFER, errorBuffer)
      .Set(CURLOPT_NOSIGNAL, 1L)
      .Set(CURLOPT_TIMEOUT_MS, static_cast<long>(limits.requestTimeout.count()))
      .Set(CURLOPT_SOCKOPTFUNCTION, &Sockets::Opened)
      .Set(CURLOPT_SOCKOPTDATA, &multi.sockets())
      .Set(CURLOPT_CLOSESOCKETFUNCTION, &Sockets::Close)
      .Set(CURLOPT_CLOSESOCKETDATA, &multi.sockets());
  if (!limits.extraCaFile.empty()) {
    options.Set(CURLOPT_CAINFO, limits.extraCaFile.c_str()).Set(CURLOPT_CAPATH, kSystemCaFolder);
  }
  if (options.result() != CURLE_OK) {
    return {};
  }
  return easy;
}

Completion Perform(Multi& multiHandle, CURL* easy, const KeepGoing& keepGoing) {
  CURLM* const multi = multiHandle.get();
  multiHandle.WakeOnStop(keepGoing);
  // Set for each transfer: a handle kept for a session must not ask the stop of an earlier one.
  const CURLcode set = EasyOptions(easy)
                           .Set(CURLOPT_XFERINFOFUNCTION, keepGoing ? &AskKeepGoing : nullptr)
                           .Set(CURLOPT_XFERINFODATA, keepGoing ? &keepGoing : nullptr)
                           .Set(CURLOPT_NOPROGRESS, keepGoing ? 0L : 1L)
                           .result();
  if (set != CURLE_OK) {
    return {false, CURLE_OK, curl_easy_strerror(set)};
  }
  const Attachment attachment(multi, easy);
  if (!attachment.attached()) {
    return {false, CURLE_OK, "libcurl could not start the transfer"};
  }
  for (;;) {
    int running = 0;
    CURLMcode status = curl_multi_perform(multi, &running);
    if (status != CURLM_OK) {
      return {false, CURLE_OK, curl_multi_strerror(status)};
    }
    if (running == 0) {
      break;
    }
    status = curl_multi_poll(multi, nullptr, 0, kWaitSliceMs, nullptr);
    if (status != CURLM_OK) {
      return {false, CURLE_OK, curl_multi_strerror(status)};
    }
    if (keepGoing && !keepGoing()) {
      return {true, CURLE_OK, {}};
    }
  }
  const CURLcode code = FinishedCode(multi, easy);
  // A stop may end the transfer as a failure of its shut-down sockets.
  const bool stopped = keepGoing && !keepGoing();
  return {code == CURLE_ABORTED_BY_CALLBACK || (stopped && code != CURLE_OK), code, {}};
}

std::size_t AppendToBody(char* data, std::size_t size, std::size_t count, void* userData) {
  auto& body = *static_cast<Body*>(userData);
  const std::size_t length = size * count;
  switch (AppendWithin(body.bytes, std::string_view(data, length), body.limit)) {
    case Appended::kOk:
      return length;
    case Appended::kPastLimit:
      body.tooLarge = true;
      break;
    case Appended::kOutOfMemory:
      body.outOfMemory = true;
      break;
  }
  return 0;  // libcurl stops the transfer with a write error
}

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

// libcurl's buffer may quote what a server sent.
std::string CurlError(CURLcode code, const char* errorBuffer) {
  return errorBuffer[0] != '\0' ? EscapeBytes(errorBuffer) : std::string(curl_easy_strerror(code));
}

long ResponseCode(CURL* easy) {
  long code = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

}  // namespace palisor::curl
