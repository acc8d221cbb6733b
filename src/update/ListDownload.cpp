#include "update/ListDownload.h"

#include "platform/Text.h"

namespace palisor {

Result<std::string> FetchList(Transfer& transfer, std::string_view address, std::stop_token stop,
                              const std::optional<BodyLimit>& room) {
  return transfer.Get(TrimSpaces(address), KeepGoing(std::move(stop)), room);
}

}  // namespace palisor
