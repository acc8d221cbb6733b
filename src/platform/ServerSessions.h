#pragma once

#include <memory>

#include "platform/Curl.h"
#include "platform/FileSession.h"
#include "platform/ServerAddress.h"

namespace palisor {

// A session with `server` by the protocol its name gives: FTP (plain, explicit or implicit
// TLS) or SFTP, whose host key is checked against, or recorded in, `login.knownHosts`.
std::unique_ptr<FileSession> OpenServerSession(const ServerAddress& server,
                                               const ServerLogin& login,
                                               const curl::Limits& limits);

}  // namespace palisor
