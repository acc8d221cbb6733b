#include "settings/SettingKeys.h"

namespace palisor {

std::string WhereToSet(std::string_view field, std::string_view key) {
  const std::string inFile = std::string(key) + " in palisor.ini";
  return field.empty() ? inFile : std::string(field) + " (" + inFile + ")";
}

std::string WhereToSet(const SettingKey& key) {
  return WhereToSet(key.field, key.name);
}

std::string_view AddressKeyOf(const ListSource& source, std::int16_t mode) {
  return source.group == ListGroup::kCountry && mode == kModeDeny ? source.denyUrlKey
                                                                  : source.urlKey;
}

}  // namespace palisor
