#include "update/FtpUpload.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/Paths.h"
#include "platform/Text.h"
#include "update/Publishing.h"

namespace palisor {
namespace {

constexpr const char* kClearTextWarning =
    "the FTP server is reached by plain FTP: the password and the file cross the network "
    "unencrypted (ftpes://, ftps:// or sftp:// before the server name protect them)";

std::string Trimmed(const std::string& text) {
  return std::string(TrimSpaces(text));
}

// SVPATH + "/" + SVFILE; an empty SVPATH gives "/" + SVFILE, the server's root.
std::string RemotePath(const Settings& settings) {
  return Trimmed(settings.SVPATH) + "/" + Trimmed(settings.SVFILE);
}

// Apache reads a .htaccess line by line: joined by anything else (a tab, "," or "|"), the
// lines become one directive with the others as its arguments, and the site answers 500.
bool ApacheReadsLines(std::string_view separator) {
  return separator.find_first_of("\r\n") != std::string_view::npos;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

Result<std::string> ReadLocalFile(const std::filesystem::path& path) {
  using Read = Result<std::string>;
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  struct stat info {};
  if (!file || fstat(fileno(file.get()), &info) != 0) {
    return Read::Failed(std::string("cannot open the local file: ") + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return Read::Failed("the local file is not a regular file");
  }
  std::string bytes;
  char buffer[1 << 16];
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get())) {
    bytes.append(buffer, got);
  }
  if (std::ferror(file.get()) != 0) {
    return Read::Failed("reading the local file failed");
  }
  return Read::Ok(std::move(bytes));
}

}  // namespace

StageResult UploadAccessFile(const Settings& settings, Transfer& transfer, std::stop_token stop,
                             std::vector<std::string>& warnings) {
  if (!ApacheReadsLines(settings.LINESEP)) {
    return StageResult::Failed(
        "not uploaded: LINESEP puts no line end between the lines, and Apache would read the "
        "whole file as one line");
  }
  const std::string serverName = Trimmed(settings.SVNAME);
  const std::optional<ServerAddress> server = ParseServerName(serverName);
  if (server && server->protocol == ServerProtocol::kFtp) {
    warnings.push_back(kClearTextWarning);
  }
  const std::string remotePath = RemotePath(settings);
  Publication publication;
  publication.source = NativePath(TrimSpaces(settings.LCFILE)).string();
  publication.where = server ? DisplayUrl(*server, remotePath) : remotePath;
  publication.target = SplitServerPath(remotePath);
  const std::string failed =
      "upload of " + publication.source + " to " + publication.where + " failed: ";
  if (!server) {
    return StageResult::Failed(failed + "\"" + WithoutCredentials(serverName) +
                               "\" is not a usable server name");
  }
  if (publication.target.name.empty() || !IsSafeInCommands(remotePath)) {
    return StageResult::Failed(failed +
                               "the file name on the server is empty or holds a line break");
  }
  Result<std::string> bytes = ReadLocalFile(publication.source);
  if (!bytes.ok()) {
    return StageResult::Failed(failed + bytes.error);
  }
  publication.bytes = std::move(bytes.value);

  const std::unique_ptr<FileSession> session = transfer.OpenSession(
      *server, {Trimmed(settings.SVUSER), Trimmed(settings.SVPSWD), kKnownHostsFile});
  const std::string checkUrl = Trimmed(settings.CHECKURL);
  SiteCheck check;
  if (!checkUrl.empty()) {
    check = [&transfer, &checkUrl](const KeepGoing& keepGoing) {
      return transfer.Check(checkUrl, keepGoing);
    };
  }
  const KeepGoing keepGoing(std::move(stop));
  return Publish(publication, *session, check, warnings, keepGoing);
}

}  // namespace palisor
