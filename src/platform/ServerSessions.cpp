#include "platform/ServerSessions.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/KnownHosts.h"
#include "platform/OwnFiles.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace palisor {
namespace {

using curl::EasyOptions;

// The last refusal (a 4xx or 5xx reply) of an FTP server, kept in its own words, escaped: the
// closing QUIT's reply comes after it, so libcurl's last response code no longer tells why.
std::size_t KeepRefusal(char* data, std::size_t size, std::size_t count, void* userData) {
  const std::size_t length = size * count;
  std::string_view line(data, length);
  while (line.ends_with('\n') || line.ends_with('\r')) {
    line.remove_suffix(1);
  }
  if (line.size() >= 3 && (line[0] == '4' || line[0] == '5')) {
    *static_cast<std::string*>(userData) = EscapeBytes(line.substr(0, 200), "\"");
  }
  return length;
}

struct Source {
  std::string_view bytes;
  std::size_t sent = 0;
};

std::size_t ReadFromSource(char* buffer, std::size_t size, std::size_t count, void* userData) {
  auto& source = *static_cast<Source*>(userData);
  const std::size_t length = std::min(size * count, source.bytes.size() - source.sent);
  std::memcpy(buffer, source.bytes.data() + source.sent, length);
  source.sent += length;
  return length;
}

// The names a listing gives, one a line, without "." and ".." and without any folder part.
std::vector<std::string> NamesListed(std::string_view listing) {
  std::vector<std::string> names;
  while (!listing.empty()) {
    const std::size_t end = listing.find('\n');
    std::string_view line = listing.substr(0, end);
    listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    line = line.substr(line.rfind('/') + 1);
    if (!line.empty() && line != "." && line != "..") {
      names.emplace_back(line);
    }
  }
  return names;
}

// How one step of a session ended.
struct Step {
  bool aborted = false;
  CURLcode code = CURLE_OK;
  std::string why;  // for a failure: libcurl's words and the server's refusal
  bool ok() const { return !aborted && why.empty(); }
  Result<> result() const {
    if (aborted) {
      return Result<>::Abandoned();
    }
    return why.empty() ? Result<>::Ok() : Result<>::Failed(why);
  }
};

// Server commands, run after a step in its folder; libcurl ignores the failure of one that
// starts with "*".
class CommandList final {
 public:
  explicit CommandList(const std::vector<std::string>& commands) {
    for (const std::string& command : commands) {
      curl_slist* const longer = curl_slist_append(list_.get(), command.c_str());
      if (longer == nullptr) {
        built_ = false;
        return;
      }
      list_.release();
      list_.reset(longer);
    }
  }
  curl_slist* list() const { return list_.get(); }
  bool built() const { return built_; }

 private:
  curl::SlistHandle list_;
  bool built_ = true;
};

// What the FTP and SFTP sessions share: one easy handle and the session's own multi handle,
// whose connection cache keeps the connection from one step to the next.
class CurlSession : public FileSession {
 public:
  CurlSession(const ServerAddress& server, const ServerLogin& login, const curl::Limits& limits)
      : server_(server),
        login_(login),
        maxBodyBytes_(limits.maxBodyBytes),
        easy_(curl::NewEasy(multi_, limits, errorBuffer_)) {}
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  Result<> Connect(const KeepGoing& keepGoing) override {
    const std::string url = FolderUrl(server_, "");
    return Perform(Prepared(url).Set(CURLOPT_NOBODY, 1L), true, keepGoing).result();
  }

  Result<std::optional<std::string>> Read(const ServerPath& file,
                                          const KeepGoing& keepGoing) override {
    const std::string url = ServerUrl(server_, JoinPath(file));
    curl::Body body{{}, maxBodyBytes_};
    const Step got = Perform(
        Prepared(url).Set(CURLOPT_WRITEFUNCTION, &curl::AppendToBody).Set(CURLOPT_WRITEDATA, &body),
        true, keepGoing);
    if (got.ok()) {
      return Result<std::optional<std::string>>::Ok(std::move(body.bytes));
    }
    if (!got.aborted && got.code == CURLE_REMOTE_FILE_NOT_FOUND && SaysNoSuchFile()) {
      return Result<std::optional<std::string>>::Ok(std::nullopt);
    }
    if (body.tooLarge) {
      return Result<std::optional<std::string>>::Failed("the file is larger than " +
                                                        std::to_string(body.limit) + " bytes");
    }
    return got.result().Without<std::optional<std::string>>();
  }

  Result<> Store(const ServerPath& file, std::string_view bytes,
                 const KeepGoing& keepGoing) override {
    const std::string url = ServerUrl(server_, JoinPath(file));
    Source source{bytes};
    return Perform(Prepared(url)
                       .Set(CURLOPT_UPLOAD, 1L)
                       .Set(CURLOPT_READFUNCTION, &ReadFromSource)
                       .Set(CURLOPT_READDATA, &source)
                       .Set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size())),
                   true, keepGoing)
        .result();
  }

  Result<> Rename(const ServerPath& file, std::string_view newName,
                  const KeepGoing& keepGoing) override {
    return Run(file.folder, RenameCommands(file, newName), keepGoing);
  }

  Result<> Delete(const ServerPath& file, const KeepGoing& keepGoing) override {
    return Run(file.folder, DeleteCommands(file), keepGoing);
  }

  Result<std::vector<std::string>> List(std::string_view folder,
                                        const KeepGoing& keepGoing) override {
    const std::string url = FolderUrl(server_, folder);
    curl::Body body{{}, maxBodyBytes_};
    const Step listed = Perform(Prepared(url)
                                    .Set(CURLOPT_DIRLISTONLY, 1L)
                                    .Set(CURLOPT_WRITEFUNCTION, &curl::AppendToBody)
                                    .Set(CURLOPT_WRITEDATA, &body),
                                true, keepGoing);
    if (!listed.ok()) {
      return listed.result().Without<std::vector<std::string>>();
    }
    return Result<std::vector<std::string>>::Ok(NamesListed(body.bytes));
  }

  void LimitEachStep(std::chrono::milliseconds limit) override {
    EasyOptions(easy_.get()).Set(CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
  }

  std::vector<std::string> TakeNotes() override { return {}; }

 protected:
  const ServerAddress& server() const { return server_; }
  const ServerLogin& login() const { return login_; }

  // The protocol and its checks of the server.
  virtual EasyOptions& Secured(EasyOptions& options) = 0;
  virtual std::vector<std::string> RenameCommands(const ServerPath& file,
                                                  std::string_view newName) const = 0;
  virtual std::vector<std::string> DeleteCommands(const ServerPath& file) const = 0;
  // Whether libcurl's "remote file not found" means that the server has no such file.
  virtual bool SaysNoSuchFile() const = 0;
  // Why a step failed, when the protocol knows better than libcurl's words.
  virtual std::optional<std::string> Explained() const { return std::nullopt; }

 private:
  // The options of a step on `url`, every one a previous step may have set included.
  EasyOptions Prepared(const std::string& url) {
    EasyOptions options(easy_.get());
    options.Set(CURLOPT_URL, url.c_str())
        .Set(CURLOPT_UPLOAD, 0L)
        .Set(CURLOPT_NOBODY, 0L)
        .Set(CURLOPT_DIRLISTONLY, 0L)
        .Set(CURLOPT_WRITEFUNCTION, &curl::DiscardBody)
        .Set(CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr))
        .Set(CURLOPT_USERNAME, login_.user.c_str())
        .Set(CURLOPT_PASSWORD, login_.password.c_str())
        .Set(CURLOPT_HEADERFUNCTION, &KeepRefusal)
        .Set(CURLOPT_HEADERDATA, &refusal_);
    Secured(options);
    return options;
  }

  // Runs `commands` in `folder` and transfers nothing.
  Result<> Run(const std::string& folder, const std::vector<std::string>& commands,
               const KeepGoing& keepGoing) {
    const std::string url = FolderUrl(server_, folder);
    const CommandList list(commands);
    return Perform(Prepared(url).Set(CURLOPT_NOBODY, 1L).Set(CURLOPT_POSTQUOTE, list.list()),
                   list.built(), keepGoing)
        .result();
  }

  Step Perform(const EasyOptions& options, bool commandsBuilt, const KeepGoing& keepGoing) {
    if (!easy_ || !multi_) {
      return {false, CURLE_FAILED_INIT, "libcurl could not be initialised"};
    }
    if (!commandsBuilt) {
      return {false, CURLE_OUT_OF_MEMORY, "not enough memory for the server commands"};
    }
    if (options.result() != CURLE_OK) {
      return {false, options.result(), curl_easy_strerror(options.result())};
    }
    errorBuffer_[0] = '\0';
    refusal_.clear();
    const curl::Completion done = curl::Perform(multi_, easy_.get(), keepGoing);
    // libcurl may tell a stop as its own error from the half-done transfer.
    if (done.aborted || (keepGoing && !keepGoing())) {
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
    if (std::optional<std::string> explained = Explained()) {
      return *std::move(explained);
    }
    std::string why = curl::CurlError(code, errorBuffer_);
    if (!refusal_.empty()) {
      why += " (the server answered \"" + refusal_ + "\")";
    }
    return why;
  }

  ServerAddress server_;
  ServerLogin login_;
  std::size_t maxBodyBytes_;
  curl::Multi multi_;  // outlives the easy handle, whose connection it holds
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  curl::EasyHandle easy_;
  std::string refusal_;
};

// FTP commands run in the file's folder and name files there.
class FtpSession final : public CurlSession {
 public:
  using CurlSession::CurlSession;

 private:
  EasyOptions& Secured(EasyOptions& options) override {
    switch (server().protocol) {
      case ServerProtocol::kFtps:
        return options.Set(CURLOPT_PROTOCOLS_STR, "ftps")
            .Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
      case ServerProtocol::kFtpes:
        return options.Set(CURLOPT_PROTOCOLS_STR, "ftp")
            .Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
      case ServerProtocol::kFtp:
      case ServerProtocol::kSftp:
        break;
    }
    return options.Set(CURLOPT_PROTOCOLS_STR, "ftp");
  }
  std::vector<std::string> RenameCommands(const ServerPath& file,
                                          std::string_view newName) const override {
    return {"RNFR " + file.name, "RNTO " + std::string(newName)};
  }
  std::vector<std::string> DeleteCommands(const ServerPath& file) const override {
    return {"DELE " + file.name};
  }
  // A 550 to RETR also means a file the login may not read.
  bool SaysNoSuchFile() const override { return false; }
};

// What the host-key check met on the session's connections.
struct HostKeyCheck {
  std::filesystem::path file;
  std::string hostName;   // as the file names the server
  bool recorded = false;  // the server was not known yet: its key is now in the file
  bool changed = false;   // the server shows another key than the one recorded
  std::string unusable;   // why the file could not be read, or a new key not recorded in it
};

// The keys recorded so far; none while there is no file. Nothing when it cannot be read.
std::optional<std::string> KnownKeys(HostKeyCheck& check) {
  std::string known;
  if (!NameTaken(check.file)) {
    return known;
  }
  Result<OwnFile> file = OpenOwnFile(check.file, O_RDONLY);
  if (!file.ok() || !ReadToEnd(file.value.fd.get(), known)) {
    check.unusable = file.ok() ? DescribeError(check.file, errno) : file.error;
    return std::nullopt;
  }
  return known;
}

bool RecordKey(HostKeyCheck& check, std::string_view known, std::string_view shown) {
  Result<OwnFile> file = OpenOwnFile(check.file, O_WRONLY | O_APPEND | O_CREAT);
  if (!file.ok()) {
    check.unusable = file.error;
    return false;
  }
  std::string line;
  if (!known.empty() && !known.ends_with('\n')) {
    line += '\n';  // a last line edited by hand, left without its end
  }
  line += KnownHostsLine(check.hostName, shown);
  if (::write(file.value.fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    check.unusable = DescribeError(check.file, errno);
    return false;
  }
  return true;
}

int CheckHostKey(void* data, int, const char* key, std::size_t length) {
  auto& check = *static_cast<HostKeyCheck*>(data);
  const std::string_view shown(key, length);
  const std::optional<std::string> known = KnownKeys(check);
  if (!known) {
    return CURLKHMATCH_MISSING;
  }
  switch (MatchHostKey(*known, check.hostName, shown)) {
    case HostKeyMatch::kKnown:
      return CURLKHMATCH_OK;
    case HostKeyMatch::kChanged:
      check.changed = true;
      return CURLKHMATCH_MISMATCH;
    case HostKeyMatch::kUnknown:
      break;
  }
  if (!RecordKey(check, *known, shown)) {
    return CURLKHMATCH_MISSING;
  }
  check.recorded = true;
  return CURLKHMATCH_OK;
}

// SFTP commands take whole paths, quoted.
class SftpSession final : public CurlSession {
 public:
  SftpSession(const ServerAddress& server, const ServerLogin& login, const curl::Limits& limits)
      : CurlSession(server, login, limits),
        hostKey_{login.knownHosts, KnownHostsName(server), false, false, {}} {}

  std::vector<std::string> TakeNotes() override {
    if (!std::exchange(hostKey_.recorded, false)) {
      return {};
    }
    return {"the SFTP server " + server().hostAndPort +
            " was not known yet: its host key is now recorded in " + login().knownHosts.string() +
            " and checked from now on"};
  }

 private:
  EasyOptions& Secured(EasyOptions& options) override {
    return options.Set(CURLOPT_PROTOCOLS_STR, "sftp")
        .Set(CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PASSWORD))
        .Set(CURLOPT_SSH_HOSTKEYFUNCTION, &CheckHostKey)
        .Set(CURLOPT_SSH_HOSTKEYDATA, &hostKey_);
  }
  std::vector<std::string> RenameCommands(const ServerPath& file,
                                          std::string_view newName) const override {
    return {"rename " + Quoted(JoinPath(file)) + " " +
            Quoted(JoinPath(file.Beside(std::string(newName))))};
  }
  std::vector<std::string> DeleteCommands(const ServerPath& file) const override {
    return {"rm " + Quoted(JoinPath(file))};
  }
  // SFTP's own "no such file".
  bool SaysNoSuchFile() const override { return true; }

  std::optional<std::string> Explained() const override {
    const std::string& file = login().knownHosts.string();
    if (hostKey_.changed) {
      return "the SFTP server " + server().hostAndPort + " shows another host key than the one " +
             "recorded in " + file +
             "; if its key was changed on purpose, delete the server's line from that file and " +
             "run again to record the new key";
    }
    if (!hostKey_.unusable.empty()) {
      return "the host key of the SFTP server " + server().hostAndPort +
             " cannot be checked: " + hostKey_.unusable;
    }
    return std::nullopt;
  }

  // libcurl's SFTP commands read a double-quoted path with \", \' and \\ escaped.
  static std::string Quoted(std::string_view path) {
    std::string quoted = "\"";
    for (const char c : path) {
      if (c == '"' || c == '\'' || c == '\\') {
        quoted += '\\';
      }
      quoted += c;
    }
    return quoted + '"';
  }

  HostKeyCheck hostKey_;
};

}  // namespace

std::unique_ptr<FileSession> OpenServerSession(const ServerAddress& server,
                                               const ServerLogin& login,
                                               const curl::Limits& limits) {
  if (server.protocol == ServerProtocol::kSftp) {
    return std::make_unique<SftpSession>(server, login, limits);
  }
  return std::make_unique<FtpSession>(server, login, limits);
}

}  // namespace palisor
