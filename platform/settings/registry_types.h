// The vocabulary of the settings store: root keys, value types, values and
// the status every store operation returns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zem {

enum class RootKey {
  ClassesRoot,
  CurrentUser,
  LocalMachine,
  Users,
  PerformanceData,
  CurrentConfig,
  DynData,
};

// "HKEY_LOCAL_MACHINE" and "HKLM" (any case) both give LocalMachine.
std::optional<RootKey> parseRootKey(std::string_view name);
// The long name, as section headers and file names spell it.
const char* rootKeyName(RootKey root);

// Value types with the registry's numbers; other numbers are kept as they are.
enum class RegType : uint32_t {
  None = 0,
  Sz = 1,
  ExpandSz = 2,
  Binary = 3,
  Dword = 4,
  DwordBigEndian = 5,
  Link = 6,
  MultiSz = 7,
  Qword = 11,
};

// "REG_SZ" <-> RegType::Sz and so on; unknown numbers print as "REG_0x..".
std::optional<RegType> parseRegType(std::string_view name);
std::string regTypeName(uint32_t type);

// One named value. REG_SZ data is the UTF-8 text without a terminator,
// REG_DWORD data is four little-endian bytes, every other type is kept as the
// bytes the store read.
struct RegValue {
  std::string name;  // empty for the key's default value
  uint32_t type = static_cast<uint32_t>(RegType::None);
  std::vector<uint8_t> data;

  static RegValue dword(std::string name, uint32_t number);
  static RegValue text(std::string name, std::string_view text);

  bool isDword() const { return type == static_cast<uint32_t>(RegType::Dword) && data.size() == 4; }
  bool isText() const { return type == static_cast<uint32_t>(RegType::Sz); }
  uint32_t asDword() const;   // the number of a REG_DWORD value
  std::string asText() const;  // the bytes of the value as text

  bool operator==(const RegValue&) const = default;
};

enum class RegError {
  Ok,
  NotFound,         // no such key or value
  WrongType,        // the value exists with another type
  Malformed,        // the store file (or the part holding the key) does not parse
  InvalidArgument,  // a name, path or datum the store cannot hold
  IoError,          // the file system refused
};

// The result of a store operation; message says what failed and where.
struct RegStatus {
  RegError code = RegError::Ok;
  std::string message;

  static RegStatus ok() { return {}; }
  static RegStatus error(RegError code, std::string message) { return {code, std::move(message)}; }
  bool isOk() const { return code == RegError::Ok; }
  explicit operator bool() const { return isOk(); }
};

// Key paths and value names compare without regard to ASCII case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace zem
