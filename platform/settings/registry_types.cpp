#include "platform/settings/registry_types.h"

#include <cstdio>

namespace zem {
namespace {

struct RootName {
  RootKey root;
  const char* longName;
  const char* shortName;
};

constexpr RootName kRootNames[] = {
    {RootKey::ClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {RootKey::CurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {RootKey::LocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RootKey::Users, "HKEY_USERS", "HKU"},
    {RootKey::PerformanceData, "HKEY_PERFORMANCE_DATA", "HKPD"},
    {RootKey::CurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
    {RootKey::DynData, "HKEY_DYN_DATA", "HKDD"},
};

struct TypeName {
  RegType type;
  const char* name;
};

constexpr TypeName kTypeNames[] = {
    {RegType::None, "REG_NONE"},
    {RegType::Sz, "REG_SZ"},
    {RegType::ExpandSz, "REG_EXPAND_SZ"},
    {RegType::Binary, "REG_BINARY"},
    {RegType::Dword, "REG_DWORD"},
    {RegType::DwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {RegType::Link, "REG_LINK"},
    {RegType::MultiSz, "REG_MULTI_SZ"},
    {RegType::Qword, "REG_QWORD"},
};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

std::optional<RootKey> parseRootKey(std::string_view name) {
  for (const RootName& entry : kRootNames) {
    if (equalsIgnoreCase(name, entry.longName) || equalsIgnoreCase(name, entry.shortName)) {
      return entry.root;
    }
  }
  return std::nullopt;
}

const char* rootKeyName(RootKey root) {
  for (const RootName& entry : kRootNames) {
    if (entry.root == root) return entry.longName;
  }
  return "HKEY_UNKNOWN";
}

std::optional<RegType> parseRegType(std::string_view name) {
  for (const TypeName& entry : kTypeNames) {
    if (equalsIgnoreCase(name, entry.name)) return entry.type;
  }
  return std::nullopt;
}

std::string regTypeName(uint32_t type) {
  for (const TypeName& entry : kTypeNames) {
    if (static_cast<uint32_t>(entry.type) == type) return entry.name;
  }
  char text[32];
  std::snprintf(text, sizeof text, "REG_0x%x", type);
  return text;
}

RegValue RegValue::dword(std::string name, uint32_t number) {
  RegValue value;
  value.name = std::move(name);
  value.type = static_cast<uint32_t>(RegType::Dword);
  value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
  return value;
}

RegValue RegValue::text(std::string name, std::string_view text) {
  RegValue value;
  value.name = std::move(name);
  value.type = static_cast<uint32_t>(RegType::Sz);
  value.data.assign(text.begin(), text.end());
  return value;
}

uint32_t RegValue::asDword() const {
  uint32_t number = 0;
  for (size_t i = 0; i < 4 && i < data.size(); ++i) number |= static_cast<uint32_t>(data[i]) << (8 * i);
  return number;
}

std::string RegValue::asText() const { return std::string(data.begin(), data.end()); }

}  // namespace zem
