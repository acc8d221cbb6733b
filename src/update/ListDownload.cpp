#include "update/ListDownload.h"

#include "platform/Text.h"

namespace palisor {

Result<std::string> FetchList(Transfer& transfer, std::string_view address, std::stop_token stop) {
  return transfer.Get(TrimSpaces(address), KeepGoing(std::move(stop)));
}

}  // namespace palisor
