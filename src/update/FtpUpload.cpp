#include "update/FtpUpload.h"

#include <optional>
#include <string>
#include <utility>

#include "platform/Paths.h"
#include "platform/Text.h"

namespace palisor {
namespace {

// Apache never serves a name that begins with ".ht", so the bytes on their way are never
// served as a page, and a leftover of an ended run is overwritten by the next one.
constexpr std::string_view kTemporaryPrefix = ".htpalisor-";

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

std::string FileNameOf(const std::string& remotePath) {
  return remotePath.substr(remotePath.rfind('/') + 1);
}

FtpUpload UploadOf(const Settings& settings) {
  FtpUpload upload;
  upload.login = {Trimmed(settings.SVNAME), Trimmed(settings.SVUSER), Trimmed(settings.SVPSWD),
                  kKnownHostsFile};
  upload.localFile = NativePath(TrimSpaces(settings.LCFILE));
  upload.remotePath = RemotePath(settings);
  const std::string name = FileNameOf(upload.remotePath);
  upload.temporaryName = std::string(kTemporaryPrefix) + name + ".new";
  upload.asideName = std::string(kTemporaryPrefix) + name + ".old";
  return upload;
}

// Apache reads a .htaccess line by line: joined by anything else (a tab, "," or "|"), the
// lines become one directive with the others as its arguments, and the site answers 500.
bool ApacheReadsLines(std::string_view separator) {
  return separator.find_first_of("\r\n") != std::string_view::npos;
}

bool IsServerError(long status) {
  return status >= 500 && status <= 599;
}

// One upload run's conversation with the server and the site.
class Publication final {
 public:
  Publication(const Settings& settings, Transfer& transfer, std::stop_token stop,
              std::vector<std::string>& warnings)
      : upload_(UploadOf(settings)),
        linesSeparated_(ApacheReadsLines(settings.LINESEP)),
        checkUrl_(Trimmed(settings.CHECKURL)),
        transfer_(transfer),
        keepGoing_([stop] { return !stop.stop_requested(); }),
        warnings_(warnings) {}

  StageResult Run() {
    if (!linesSeparated_) {
      return StageResult::Failed(
          "not uploaded: LINESEP puts no line end between the lines, and Apache would read "
          "the whole file as one line");
    }
    WarnWhenInClear();
    if (checkUrl_.empty()) {
      return Publish(upload_);
    }
    return PublishChecked();
  }

 private:
  void WarnWhenInClear() {
    const std::optional<ServerAddress> server = ParseServerName(upload_.login.server);
    if (server && server->protocol == ServerProtocol::kFtp) {
      warnings_.push_back(kClearTextWarning);
    }
  }

  ServerResult Heard(ServerResult result) {
    for (std::string& note : result.notes) {
      warnings_.push_back(std::move(note));
    }
    return result;
  }

  StageResult Publish(const FtpUpload& upload) {
    const ServerResult sent = Heard(transfer_.Put(upload, keepGoing_));
    switch (sent.status) {
      case TransferStatus::kOk:
        return StageResult::Ok();
      case TransferStatus::kAborted:
        return StageResult::Abandoned();
      case TransferStatus::kFailed:
        break;
    }
    // A refused upload leaves the site with its previous file: the run must say so.
    return StageResult::Failed(sent.error);
  }

  // The previous file (or its absence) is read and the site asked before the upload, and the
  // site asked again after it.
  StageResult PublishChecked() {
    ServerResult previous = Heard(transfer_.Fetch(upload_.login, upload_.remotePath, keepGoing_));
    if (previous.status == TransferStatus::kAborted) {
      return StageResult::Abandoned();
    }
    const ServerResult before = transfer_.Check(checkUrl_, keepGoing_);
    if (before.status == TransferStatus::kAborted) {
      return StageResult::Abandoned();
    }
    if (StageResult sent = Publish(upload_); !sent.ok()) {
      return sent;
    }
    const ServerResult after = transfer_.Check(checkUrl_, keepGoing_);
    if (after.status == TransferStatus::kAborted) {
      return StageResult::Abandoned();
    }
    if (after.status != TransferStatus::kOk) {
      warnings_.push_back("the site could not be checked with the new file, which stays: " +
                          after.error);
      return StageResult::Ok();
    }
    if (!IsServerError(after.httpStatus)) {
      return StageResult::Ok();
    }
    if (after.httpStatus == before.httpStatus) {
      warnings_.push_back("the site answered " + std::to_string(after.httpStatus) +
                          " before and after the upload; the new file stays");
      return StageResult::Ok();
    }
    return RollBack(std::move(previous), after.httpStatus);
  }

  StageResult RollBack(ServerResult previous, long status) {
    const std::string answered =
        "the site answered " + std::to_string(status) + " with the new file; ";
    if (previous.status == TransferStatus::kOk) {
      FtpUpload restore = upload_;
      restore.bytes = std::move(previous.body);
      return Undone(Heard(transfer_.Put(restore, keepGoing_)),
                    answered + "the previous file was put back",
                    answered + "putting the previous file back failed: ");
    }
    if (previous.missing) {
      return Undone(Heard(transfer_.Remove(upload_.login, upload_.remotePath, keepGoing_)),
                    answered + "the new file was removed, as there was none before",
                    answered + "removing it failed: ");
    }
    return StageResult::Failed(
        answered + "it stays, as the previous file could not be read: " + previous.error);
  }

  static StageResult Undone(const ServerResult& undo, std::string done, std::string failed) {
    switch (undo.status) {
      case TransferStatus::kOk:
        return StageResult::Failed(std::move(done));
      case TransferStatus::kAborted:
        return StageResult::Abandoned();
      case TransferStatus::kFailed:
        break;
    }
    return StageResult::Failed(failed + undo.error);
  }

  const FtpUpload upload_;
  const bool linesSeparated_;
  const std::string checkUrl_;
  Transfer& transfer_;
  const Transfer::KeepGoing keepGoing_;
  std::vector<std::string>& warnings_;
};

}  // namespace

StageResult UploadAccessFile(const Settings& settings, Transfer& transfer, std::stop_token stop,
                             std::vector<std::string>& warnings) {
  return Publication(settings, transfer, std::move(stop), warnings).Run();
}

}  // namespace palisor
