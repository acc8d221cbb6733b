#include "update/FtpUpload.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/SettingKeys.h"
#include "update/AccessFile.h"

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

// The line end of the block's marker lines: the one the generated lines end in.
std::string LineEndOf(std::string_view separator) {
  if (separator.find("\r\n") != std::string_view::npos) {
    return "\r\n";
  }
  return separator.find('\n') != std::string_view::npos ? "\n" : "\r";
}

std::unique_ptr<FileSession> OpenSession(const Settings& settings, const UploadTarget& target,
                                         Transfer& transfer, std::filesystem::path knownHosts) {
  return transfer.OpenSession(
      target.server, {Trimmed(settings.SVUSER), Trimmed(settings.SVPSWD), std::move(knownHosts)});
}

SiteCheck CheckOf(const Settings& settings, Transfer& transfer) {
  std::string checkUrl = Trimmed(settings.CHECKURL);
  if (checkUrl.empty()) {
    return {};
  }
  return [&transfer, checkUrl = std::move(checkUrl)](const KeepGoing& keepGoing) {
    return transfer.Check(checkUrl, keepGoing);
  };
}

// Publishes `bytes` to the settings' target: this run's file, or the kept version
// `restoredFrom` put back.
Result<Published> PublishTo(const Settings& settings, std::string bytes,
                            const std::optional<std::filesystem::path>& restoredFrom,
                            Transfer& transfer, std::stop_token stop,
                            std::vector<std::string>& warnings) {
  Result<UploadTarget> target = TargetOf(settings, warnings);
  if (!target.ok()) {
    return target.Without<Published>();
  }
  Publication& publication = target.value.publication;
  publication.bytes = std::move(bytes);
  if (restoredFrom) {
    publication.source = restoredFrom->string();
    publication.restoring = true;
  }
  History history(publication.where);
  const std::unique_ptr<FileSession> session =
      OpenSession(settings, target.value, transfer, kKnownHostsFile);
  return Publish(publication, *session, history, CheckOf(settings, transfer), warnings,
                 KeepGoing(std::move(stop)));
}

// A copy of the known hosts outside the working folder, removed when it goes.
class ScratchKnownHosts final {
 public:
  ScratchKnownHosts() {
    std::string name = (std::filesystem::temp_directory_path() / "palisor-hosts.XXXXXX").string();
    if (const int fd = ::mkstemp(name.data()); fd >= 0) {
      ::close(fd);
      path_ = name;
      std::error_code ignored;
      std::filesystem::copy_file(kKnownHostsFile, path_,
                                 std::filesystem::copy_options::overwrite_existing, ignored);
    }
  }
  ScratchKnownHosts(const ScratchKnownHosts&) = delete;
  ScratchKnownHosts& operator=(const ScratchKnownHosts&) = delete;
  ~ScratchKnownHosts() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

Result<UploadTarget> TargetOf(const Settings& settings, std::vector<std::string>& warnings) {
  using Target = Result<UploadTarget>;
  if (!ApacheReadsLines(settings.LINESEP)) {
    return Target::Failed(
        "not uploaded: the line separator puts no line end between the lines, and Apache would "
        "read the whole file as one line; set \\n or \\N in " +
        WhereToSet(keys::LINESEP));
  }
  const std::string serverName = Trimmed(settings.SVNAME);
  const std::optional<ServerAddress> server = ParseServerName(serverName);
  const std::string remotePath = RemotePath(settings);
  Publication publication;
  publication.source = OutputFile(settings).string();
  publication.where = server ? DisplayUrl(*server, remotePath) : remotePath;
  publication.target = SplitServerPath(remotePath);
  publication.otherLines = settings.OTHERLINES;
  publication.lineEnd = LineEndOf(settings.LINESEP);
  const std::string failed =
      "upload of " + publication.source + " to " + publication.where + " failed: ";
  if (serverName.empty()) {
    return Target::Failed(failed + "no server is set: fill in " + WhereToSet(keys::SVNAME) +
                          ", or turn uploading off in " + WhereToSet(keys::FTPSW));
  }
  if (!server) {
    return Target::Failed(failed + "\"" + WithoutCredentials(serverName) +
                          "\" is not a usable server name; mend it in " + WhereToSet(keys::SVNAME));
  }
  if (publication.target.name.empty() || !IsSafeInCommands(remotePath)) {
    return Target::Failed(
        failed + "the file name on the server is empty or holds a line break; mend it in " +
        WhereToSet(keys::SVFILE));
  }
  if (server->protocol == ServerProtocol::kFtp) {
    warnings.push_back(kClearTextWarning);
  }
  return Target::Ok({*server, std::move(publication)});
}

Result<History> HistoryOf(const Settings& settings) {
  std::vector<std::string> warnings;
  Result<UploadTarget> target = TargetOf(settings, warnings);
  if (!target.ok()) {
    return target.Without<History>();
  }
  return Result<History>::Ok(History(target.value.publication.where));
}

Result<KeptVersion> KeptVersionOf(const Settings& settings, std::size_t number) {
  using Version = Result<KeptVersion>;
  Result<History> history = HistoryOf(settings);
  if (!history.ok()) {
    return history.Without<KeptVersion>();
  }
  Result<std::vector<KeptVersion>> versions = history.value.Versions();
  if (!versions.ok()) {
    return versions.Without<KeptVersion>();
  }
  if (number == 0 || number > versions.value.size()) {
    return Version::Failed("no kept version " + std::to_string(number) + " of " +
                           history.value.target() + " (" + std::to_string(versions.value.size()) +
                           " kept; palisor-update --history lists them)");
  }
  return Version::Ok(versions.value[number - 1]);
}

Result<Published> UploadAccessFile(const Settings& settings, std::string bytes, Transfer& transfer,
                                   std::stop_token stop, std::vector<std::string>& warnings) {
  return PublishTo(settings, std::move(bytes), std::nullopt, transfer, std::move(stop), warnings);
}

Result<Published> RestoreVersion(const Settings& settings, const KeptVersion& version,
                                 Transfer& transfer, std::stop_token stop,
                                 std::vector<std::string>& warnings) {
  Result<std::string> bytes = History::Read(version);
  if (!bytes.ok()) {
    return bytes.Without<Published>();
  }
  return PublishTo(settings, std::move(bytes.value), version.file, transfer, std::move(stop),
                   warnings);
}

Result<PublishPreview> PreviewUpload(const Settings& settings, std::string bytes,
                                     Transfer& transfer, std::stop_token stop) {
  std::vector<std::string> warnings;
  Result<UploadTarget> target = TargetOf(settings, warnings);
  if (!target.ok()) {
    return target.Without<PublishPreview>();
  }
  Publication& publication = target.value.publication;
  publication.bytes = std::move(bytes);
  const ScratchKnownHosts knownHosts;
  const std::unique_ptr<FileSession> session =
      OpenSession(settings, target.value, transfer, knownHosts.path());
  return PreviewPublish(publication, *session, History(publication.where),
                        KeepGoing(std::move(stop)));
}

}  // namespace palisor
