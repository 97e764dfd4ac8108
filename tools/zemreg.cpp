// zemreg: the command-line tool of the settings store, with the verbs and
// switches of the registry's own command-line tool.
//
//   zemreg query  KEY [/v NAME | /ve]
//   zemreg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   zemreg delete KEY [/v NAME | /ve | /va] [/f]
//   zemreg export KEY FILE [/y]
//   zemreg import FILE
//
// KEY starts with a root key, long or short (HKEY_LOCAL_MACHINE, HKLM).
// Exit status 0 on success, 1 with a message on standard error otherwise.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/settings/settings_store.h"

namespace {

using zem::RegError;
using zem::RegStatus;
using zem::RegType;
using zem::RegValue;
using zem::RootKey;

constexpr const char* kUsage =
    "usage: zemreg query  KEY [/v NAME | /ve]\n"
    "       zemreg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD|REG_BINARY] [/d DATA] [/f]\n"
    "       zemreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "       zemreg export KEY FILE [/y]\n"
    "       zemreg import FILE\n"
    "KEY begins with a root key: HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU), ...\n"
    "\n"
    "Options (also written -v, -f, ...; any case):\n"
    "  /v NAME     the value called NAME\n"
    "  /ve         the default value, the one without a name\n"
    "  /va         (delete) every value of KEY; its subkeys stay\n"
    "  /t TYPE     (add) the type of the value; REG_SZ when not given\n"
    "  /d DATA     (add) text, a number (decimal or 0x...), or pairs of hexadecimal digits\n"
    "  /f          add or delete without asking\n"
    "  /y          (export) overwrite FILE without asking\n"
    "  /?, --help  this text\n"
    "  --version   the version of zemreg\n";

struct Arguments {
  std::vector<std::string> positional;
  std::optional<std::string> valueName;  // /v NAME, or "" for /ve
  std::optional<std::string> type;
  std::optional<std::string> data;
  bool force = false;
  bool allValues = false;
  bool overwriteFile = false;
};

int fail(const std::string& message) {
  std::cerr << "ERROR: " << message << "\n";
  return 1;
}

int failStatus(const RegStatus& status) {
  if (status.code == RegError::NotFound) {
    return fail("The system was unable to find the specified registry key or value. (" + status.message + ")");
  }
  return fail(status.message);
}

bool isSwitch(const std::string& word, const char* name) {
  if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) return false;
  return zem::equalsIgnoreCase(std::string_view(word).substr(1), name);
}

std::optional<Arguments> parseArguments(int argc, char** argv, std::string& error) {
  Arguments args;
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    auto next = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        error = std::string(what) + " needs an argument";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (isSwitch(word, "v")) {
      if (!(args.valueName = next("/v"))) return std::nullopt;
    } else if (isSwitch(word, "ve")) {
      args.valueName = "";
    } else if (isSwitch(word, "va")) {
      args.allValues = true;
    } else if (isSwitch(word, "t")) {
      if (!(args.type = next("/t"))) return std::nullopt;
    } else if (isSwitch(word, "d")) {
      if (!(args.data = next("/d"))) return std::nullopt;
    } else if (isSwitch(word, "f")) {
      args.force = true;
    } else if (isSwitch(word, "y")) {
      args.overwriteFile = true;
    } else if (word.size() > 1 && word[0] == '/' && word.find('/', 1) == std::string::npos && word.size() <= 4) {
      error = "Invalid syntax: unknown switch " + word;
      return std::nullopt;
    } else {
      args.positional.push_back(word);
    }
  }
  return args;
}

bool confirm(const std::string& question) {
  std::cout << question << " " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return zem::equalsIgnoreCase(answer, "yes") || zem::equalsIgnoreCase(answer, "y");
}

std::string fullName(RootKey root, const std::string& path) {
  return std::string(zem::rootKeyName(root)) + (path.empty() ? "" : "\\" + path);
}

std::string displayData(const RegValue& value) {
  if (value.isDword()) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%x", value.asDword());
    return number;
  }
  if (value.isText()) return value.asText();
  std::string hex;
  for (uint8_t byte : value.data) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    hex += digits;
  }
  return hex;
}

void printValue(const RegValue& value) {
  std::cout << "    " << (value.name.empty() ? "(Default)" : value.name) << "    " << zem::regTypeName(value.type)
            << "    " << displayData(value) << "\n";
}

bool parseKey(const Arguments& args, RootKey& root, std::string& path, std::string& error) {
  if (args.positional.empty()) {
    error = "Invalid syntax: a key is needed";
    return false;
  }
  if (!zem::splitKeyName(args.positional[0], root, path)) {
    error = "Invalid key name \"" + args.positional[0] + "\": it must begin with a root key such as HKLM";
    return false;
  }
  return true;
}

// "/d" text for REG_DWORD: decimal, or hexadecimal with 0x; 32 bits at most.
std::optional<uint32_t> parseDword(const std::string& text) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || number > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(number);
}

std::optional<std::vector<uint8_t>> parseBinary(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1 || !std::isxdigit(text[i]) ||
        !std::isxdigit(text[i + 1])) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

int query(const Arguments& args) {
  RootKey root;
  std::string path, error;
  if (!parseKey(args, root, path, error)) return fail(error);
  zem::RegistryKey key;
  RegStatus status = zem::RegistryKey::open(root, path, key);
  if (!status) return failStatus(status);

  std::cout << "\n" << fullName(root, key.path()) << "\n";
  if (args.valueName) {
    RegValue value;
    status = key.queryValue(*args.valueName, value);
    if (!status) return failStatus(status);
    printValue(value);
    std::cout << "\n";
    return 0;
  }
  std::vector<RegValue> values;
  std::vector<std::string> subkeys;
  if (!(status = key.values(values)) || !(status = key.subkeys(subkeys))) return failStatus(status);
  for (const RegValue& value : values) printValue(value);
  std::cout << "\n";
  for (const std::string& subkey : subkeys) std::cout << fullName(root, key.path()) << "\\" << subkey << "\n";
  if (!subkeys.empty()) std::cout << "\n";
  return 0;
}

int add(const Arguments& args) {
  RootKey root;
  std::string path, error;
  if (!parseKey(args, root, path, error)) return fail(error);
  if (path.empty()) return fail("Invalid key name: a key below the root is needed");

  std::optional<RegValue> value;
  if (args.valueName) {
    const std::string typeName = args.type.value_or("REG_SZ");
    const auto type = zem::parseRegType(typeName);
    const std::string data = args.data.value_or("");
    if (!type) return fail("Invalid type \"" + typeName + "\": use REG_SZ, REG_DWORD or REG_BINARY");
    if (*type == RegType::Sz) {
      value = RegValue::text(*args.valueName, data);
    } else if (*type == RegType::Dword) {
      const auto number = parseDword(args.data.value_or("0"));
      if (!number) return fail("Invalid REG_DWORD data \"" + data + "\": give 0 to 4294967295, or 0x0 to 0xffffffff");
      value = RegValue::dword(*args.valueName, *number);
    } else if (*type == RegType::Binary) {
      const auto bytes = parseBinary(data);
      if (!bytes) return fail("Invalid REG_BINARY data \"" + data + "\": give pairs of hexadecimal digits");
      value = RegValue{*args.valueName, static_cast<uint32_t>(RegType::Binary), *bytes};
    } else {
      return fail("Type " + typeName + " is not supported here: use REG_SZ, REG_DWORD or REG_BINARY");
    }
  } else if (args.type || args.data) {
    return fail("Invalid syntax: /t and /d need /v NAME or /ve");
  }

  zem::RegistryKey key;
  RegStatus status = zem::RegistryKey::create(root, path, key);
  if (!status) return failStatus(status);
  if (value) {
    RegValue existing;
    if (!args.force && key.queryValue(value->name, existing)) {
      const std::string shown = value->name.empty() ? "(Default)" : value->name;
      if (!confirm("Value " + shown + " exists, overwrite(Yes/No)?")) return fail("The operation was cancelled by the user.");
    }
    status = key.setValue(*value);
    if (!status) return failStatus(status);
  }
  std::cout << "The operation completed successfully.\n";
  return 0;
}

int remove(const Arguments& args) {
  RootKey root;
  std::string path, error;
  if (!parseKey(args, root, path, error)) return fail(error);
  zem::RegistryKey key;
  RegStatus status = zem::RegistryKey::open(root, path, key);
  if (!status) return failStatus(status);

  if (args.valueName) {
    RegValue existing;
    if (!(status = key.queryValue(*args.valueName, existing))) return failStatus(status);
    const std::string shown = args.valueName->empty() ? "(Default)" : *args.valueName;
    if (!args.force && !confirm("Delete the registry value " + shown + " (Yes/No)?")) {
      return fail("The operation was cancelled by the user.");
    }
    if (!(status = key.deleteValue(*args.valueName))) return failStatus(status);
  } else if (args.allValues) {
    if (!args.force && !confirm("Delete all values under the registry key " + fullName(root, key.path()) + " (Yes/No)?")) {
      return fail("The operation was cancelled by the user.");
    }
    std::vector<RegValue> values;
    if (!(status = key.values(values))) return failStatus(status);
    for (const RegValue& value : values) {
      if (!(status = key.deleteValue(value.name))) return failStatus(status);
    }
  } else {
    if (!args.force && !confirm("Permanently delete the registry key " + fullName(root, key.path()) + " (Yes/No)?")) {
      return fail("The operation was cancelled by the user.");
    }
    key.close();
    if (!(status = zem::RegistryKey::deleteTree(root, path))) return failStatus(status);
  }
  std::cout << "The operation completed successfully.\n";
  return 0;
}

int exportTo(const Arguments& args) {
  RootKey root;
  std::string path, error;
  if (!parseKey(args, root, path, error)) return fail(error);
  if (args.positional.size() != 2) return fail("Invalid syntax: export needs a key and a file name");
  const std::string& file = args.positional[1];

  std::string text;
  RegStatus status = zem::exportKey(root, path, text);
  if (!status) return failStatus(status);
  if (!args.overwriteFile && std::ifstream(file).good() &&
      !confirm("File " + file + " already exists. Overwrite (Yes/No)?")) {
    return fail("The operation was cancelled by the user.");
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) return fail("Cannot write " + file + ": " + std::strerror(errno));
  std::cout << "The operation completed successfully.\n";
  return 0;
}

int importFrom(const Arguments& args) {
  if (args.positional.size() != 1) return fail("Invalid syntax: import needs one file name");
  const std::string& file = args.positional[0];
  std::ifstream in(file, std::ios::binary);
  if (!in) return fail("Cannot open " + file + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  RegStatus status = zem::importText(text.str(), file);
  if (!status) return failStatus(status);
  std::cout << "The operation completed successfully.\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "/?") == 0 || std::strcmp(argv[1], "--help") == 0) {
    std::cout << kUsage;
    return argc < 2 ? 1 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "zemreg " ZEMLINK_VERSION "\n";
    return 0;
  }
  std::string error;
  const auto args = parseArguments(argc, argv, error);
  if (!args) return fail(error);

  const std::string verb = argv[1];
  if (zem::equalsIgnoreCase(verb, "query")) return query(*args);
  if (zem::equalsIgnoreCase(verb, "add")) return add(*args);
  if (zem::equalsIgnoreCase(verb, "delete")) return remove(*args);
  if (zem::equalsIgnoreCase(verb, "export")) return exportTo(*args);
  if (zem::equalsIgnoreCase(verb, "import")) return importFrom(*args);
  std::cerr << "ERROR: Invalid operation \"" << verb << "\"\n" << kUsage;
  return 1;
}
