// What a registry key does the same way whichever store holds it: its
// name's parts, moving it, and the typed reads and writes, which go through
// the store's own queryValue and setValue.
#include <string>
#include <utility>

#include "platform/settings/settings_store.h"

namespace zem {

bool splitKeyName(std::string_view fullName, RootKey& root, std::string& path) {
  const size_t slash = fullName.find('\\');
  const auto parsed = parseRootKey(fullName.substr(0, slash));
  if (!parsed) return false;
  root = *parsed;
  path = slash == std::string_view::npos ? std::string() : std::string(fullName.substr(slash + 1));
  return true;
}

RegistryKey::~RegistryKey() { close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : root_(other.root_), path_(std::move(other.path_)), id_(other.id_) {
  other.id_ = 0;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    close();
    root_ = other.root_;
    path_ = std::move(other.path_);
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

RegStatus RegistryKey::queryDword(std::string_view name, uint32_t& out) const {
  RegValue value;
  RegStatus status = queryValue(name, value);
  if (!status) return status;
  if (!value.isDword()) {
    return RegStatus::error(RegError::WrongType, "\"" + std::string(name) + "\" is " + regTypeName(value.type) +
                                                     ", not REG_DWORD");
  }
  out = value.asDword();
  return RegStatus::ok();
}

RegStatus RegistryKey::queryString(std::string_view name, std::string& out) const {
  RegValue value;
  RegStatus status = queryValue(name, value);
  if (!status) return status;
  if (!value.isText()) {
    return RegStatus::error(RegError::WrongType, "\"" + std::string(name) + "\" is " + regTypeName(value.type) +
                                                     ", not REG_SZ");
  }
  out = value.asText();
  return RegStatus::ok();
}

RegStatus RegistryKey::setDword(std::string_view name, uint32_t number) {
  return setValue(RegValue::dword(std::string(name), number));
}

RegStatus RegistryKey::setString(std::string_view name, std::string_view text) {
  return setValue(RegValue::text(std::string(name), text));
}

}  // namespace zem
