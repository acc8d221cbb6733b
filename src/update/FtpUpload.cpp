#include "update/FtpUpload.h"

#include <string>

#include "platform/Paths.h"
#include "platform/Text.h"

namespace palisor {
namespace {

std::string Trimmed(const std::string& text) {
  return std::string(TrimSpaces(text));
}

// SVPATH + "/" + SVFILE; an empty SVPATH gives "/" + SVFILE, the server's root.
std::string RemotePath(const Settings& settings) {
  return Trimmed(settings.SVPATH) + "/" + Trimmed(settings.SVFILE);
}

}  // namespace

StageResult UploadAccessFile(const Settings& settings, Transfer& transfer, Host& host) {
  FtpUpload upload;
  upload.server = Trimmed(settings.SVNAME);
  upload.user = Trimmed(settings.SVUSER);
  upload.password = Trimmed(settings.SVPSWD);
  upload.localFile = NativePath(TrimSpaces(settings.LCFILE));
  upload.remotePath = RemotePath(settings);

  const TransferResult result = transfer.Put(upload, [&host] { return host.ProcessEvents(); });
  switch (result.status) {
    case TransferStatus::kOk:
      return StageResult::Ok();
    case TransferStatus::kAborted:
      return StageResult::Abandoned();
    case TransferStatus::kFailed:
      break;
  }
  // A refused upload leaves the site without its new file: the run must say so.
  return StageResult::Failed(result.error);
}

}  // namespace palisor
