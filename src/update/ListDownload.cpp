#include "update/ListDownload.h"

#include "platform/Text.h"

namespace palisor {

const std::array<ListEntry, 11> kListTable = {{
    {"Japan", "国別情報の取得中[日本]", ListGroup::kCountry},
    {"China", "国別情報の取得中[中国]", ListGroup::kCountry},
    {"Hong Kong", "国別情報の取得中[香港]", ListGroup::kCountry},
    {"Taiwan", "国別情報の取得中[台湾]", ListGroup::kCountry},
    {"Korea", "国別情報の取得中[韓国]", ListGroup::kCountry},
    {"Anonymous", "PROXY情報の取得中[Anonymous]", ListGroup::kProxy},
    {"Non-Anonymous", "PROXY情報の取得中[Non-Anonymous]", ListGroup::kProxy},
    {"Squid", "PROXY情報の取得中[Squid]", ListGroup::kProxy},
    {"Russia 1", "PROXY情報の取得中[露①]", ListGroup::kOverseas},
    {"Russia 2", "PROXY情報の取得中[露②]", ListGroup::kOverseas},
    {"Canada", "PROXY情報の取得中[加]", ListGroup::kOverseas},
}};

namespace {

constexpr std::size_t kFirstProxyRow = kCountryCount;

}  // namespace

bool ListEnabled(const Settings& s, std::size_t row) {
  if (row < kFirstProxyRow) {
    return s.CountryMode(static_cast<Country>(row)) != kModeUnspecified;
  }
  const bool modes[] = {s.MODE1, s.MODE2, s.MODE3, s.MODE4, s.MODE5, s.MODE6};
  return modes[row - kFirstProxyRow];
}

std::string ListAddress(const Settings& s, std::size_t row) {
  if (row < kFirstProxyRow) {
    const auto mode = s.CountryMode(static_cast<Country>(row));
    if (mode != kModeAllow && mode != kModeDeny) {
      return {};
    }
    return s.countryListUrls[row][static_cast<std::size_t>(mode)];
  }
  const std::string* urls[] = {&s.URL1, &s.URL2, &s.URL3, &s.URL4, &s.URL5, &s.URL6};
  return *urls[row - kFirstProxyRow];
}

Result<std::string> FetchList(Transfer& transfer, std::string_view address, std::stop_token stop,
                              const BodyLimit& room) {
  return transfer.Get(TrimSpaces(address), KeepGoing(std::move(stop)), room);
}

}  // namespace palisor
