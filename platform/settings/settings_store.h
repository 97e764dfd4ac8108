// The settings store: a hierarchical key/value store with the registry's
// shape, kept in one text file per root key,
// $ZEMLINK_ROOT/registry/HKEY_LOCAL_MACHINE.reg and so on, in the registry
// editor's export syntax (see registry_document.h).
//
// Readers parse the current file; writers take an exclusive flock on
// "<file>.lock", re-read, change, write a temporary file and rename it over the
// original, so a reader never sees half a file and two processes never lose
// each other's writes. A file that does not parse is never rewritten except by
// an explicit write, which keeps every section it cannot read as it stands and
// refuses to change a key whose own section is broken.
//
// A RegistryKey is a handle like the registry's HKEY: open() finds an existing
// key, create() makes it (with its ancestors) when missing. One handle is used
// by one thread at a time; different handles may be used from any threads and
// processes at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event.h"
#include "platform/settings/registry_types.h"

namespace zem {

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  static RegStatus open(RootKey root, std::string_view path, RegistryKey& out);
  static RegStatus create(RootKey root, std::string_view path, RegistryKey& out);
  // Removes a key with all its subkeys and values.
  static RegStatus deleteTree(RootKey root, std::string_view path);

  bool isOpen() const { return id_ != 0; }
  RootKey root() const { return root_; }
  const std::string& path() const { return path_; }

  RegStatus queryValue(std::string_view name, RegValue& out) const;
  // WrongType when the value exists with another type.
  RegStatus queryDword(std::string_view name, uint32_t& out) const;
  RegStatus queryString(std::string_view name, std::string& out) const;
  RegStatus setValue(const RegValue& value);
  RegStatus setDword(std::string_view name, uint32_t number);
  // The text must be UTF-8 and must not hold a NUL character.
  RegStatus setString(std::string_view name, std::string_view text);
  RegStatus deleteValue(std::string_view name);
  RegStatus values(std::vector<RegValue>& out) const;
  RegStatus subkeys(std::vector<std::string>& out) const;

  // One-shot change notification: the event is set once, the next time
  // anything at or (withSubkeys) below this key changes, in any process. A
  // change made before the call does not count. Closing the key cancels a
  // pending request and sets its event.
  RegStatus notifyChange(bool withSubkeys, std::shared_ptr<Event> event);

  void close();

 private:
  RootKey root_ = RootKey::LocalMachine;
  std::string path_;
  uint64_t id_ = 0;
};

// The file that holds a root key.
std::string registryFilePath(RootKey root);

// The key and its subkeys in export syntax (the text of "reg export").
RegStatus exportKey(RootKey root, std::string_view path, std::string& text);
// Applies a file in export syntax: sets every value, creates every key, and
// carries out "[-KEY]" and "name"=- deletions. Nothing is applied when the
// text has a line that does not parse.
RegStatus importText(std::string_view text, std::string_view fileName);

// "HKLM\SOFTWARE\X" -> root and path. False for an unknown root.
bool splitKeyName(std::string_view fullName, RootKey& root, std::string& path);

}  // namespace zem
