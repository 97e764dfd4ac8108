// A registry file in the registry editor's export syntax, held in memory.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Brasken\Quorin\Tarvo]
//   "IsLogTrace"=dword:00000001
//   "LogPath"="D:\\Corvane\\Logs"
//   "Blob"=hex:01,02,ff
//   "Other"=hex(2):44,00,00,00
//
// Parsing never throws and never gives up on the whole text for one bad line:
// a section with a line that does not parse is kept as its raw lines, reads
// as missing, and is written back byte for byte, so that a hand-edited slip
// loses nothing. A text without the header line is unusable as a whole.
// Import files may also hold deletions ("[-KEY]", "name"=-).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/settings/registry_types.h"

namespace zem {

struct RegistrySection {
  RootKey root = RootKey::LocalMachine;
  std::string path;  // below the root, without leading or trailing backslash
  std::vector<RegValue> values;
  std::vector<std::string> deletedValues;  // "name"=- lines
  bool deleteKey = false;                  // "[-KEY]"
  std::string rawText;  // the lines as read; kept only for a broken section
  std::string error;    // "<file>:<line>: <reason>" for a broken section

  bool broken() const { return !error.empty(); }
  const RegValue* findValue(std::string_view name) const;
  void setValue(RegValue value);
  bool removeValue(std::string_view name);
};

class RegistryDocument {
 public:
  static RegistryDocument parse(std::string_view text, std::string_view fileName);

  // Set when the text as a whole cannot be used (no header line).
  const std::string& fileError() const { return fileError_; }
  // Every parse error: the file error first, then those of broken sections.
  std::vector<std::string> errors() const;

  // The text in export syntax: header, sections, broken sections verbatim.
  std::string serialize() const;
  // Only the sections at and (with subkeys) below root\path, with the header.
  std::string exportText(RootKey root, std::string_view path, bool withSubkeys) const;

  // The well-formed section of a key, or null. *error receives the parse
  // error when the key's section is broken.
  const RegistrySection* find(RootKey root, std::string_view path, std::string* error = nullptr) const;
  RegistrySection* find(RootKey root, std::string_view path, std::string* error = nullptr);
  // Finds or creates a key and every missing ancestor below the root.
  RegistrySection& findOrCreate(RootKey root, std::string_view path);
  // Removes a key with all its subkeys; false when there was none.
  bool removeTree(RootKey root, std::string_view path);
  // Names of the direct subkeys of a key, in file order.
  std::vector<std::string> childNames(RootKey root, std::string_view path) const;

  const std::vector<RegistrySection>& sections() const { return sections_; }

 private:
  std::vector<RegistrySection> sections_;
  std::string fileError_;
};

// True when child is path itself or lies below it (ASCII case ignored).
bool isSameOrBelow(std::string_view child, std::string_view path);

}  // namespace zem
