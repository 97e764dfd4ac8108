#include "platform/settings/settings_store.h"

#include <atomic>

#include "platform/paths.h"
#include "platform/settings/registry_document.h"
#include "platform/settings/registry_file.h"
#include "platform/settings/registry_notifier.h"

namespace zem {
namespace {

std::atomic<uint64_t> nextKeyId{1};

RegStatus notFound(RootKey root, std::string_view path) {
  return RegStatus::error(RegError::NotFound, std::string("no such key: ") + rootKeyName(root) +
                                                  (path.empty() ? "" : "\\") + std::string(path));
}

RegStatus valueNotFound(std::string_view name) {
  return RegStatus::error(RegError::NotFound, "no such value: \"" + std::string(name) + "\"");
}

bool isValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// Checks a key path and brings it into the stored form (no outer backslashes).
RegStatus normalisePath(std::string_view path, std::string& out) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.find("\\\\") != std::string_view::npos) {
    return RegStatus::error(RegError::InvalidArgument, "empty key name in \"" + std::string(path) + "\"");
  }
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20) {
      return RegStatus::error(RegError::InvalidArgument, "control character in key path");
    }
  }
  if (!isValidUtf8(path)) return RegStatus::error(RegError::InvalidArgument, "key path is not UTF-8");
  out = std::string(path);
  return RegStatus::ok();
}

RegStatus checkValue(const RegValue& value) {
  if (!isValidUtf8(value.name)) return RegStatus::error(RegError::InvalidArgument, "value name is not UTF-8");
  for (char c : value.name) {
    if (static_cast<unsigned char>(c) < 0x20) {
      return RegStatus::error(RegError::InvalidArgument, "control character in value name");
    }
  }
  if (value.isText()) {
    const std::string text = value.asText();
    if (!isValidUtf8(text)) return RegStatus::error(RegError::InvalidArgument, "text value is not UTF-8");
    if (text.find('\0') != std::string::npos) {
      return RegStatus::error(RegError::InvalidArgument, "text value holds a NUL character");
    }
  }
  if (value.type == static_cast<uint32_t>(RegType::Dword) && value.data.size() != 4) {
    return RegStatus::error(RegError::InvalidArgument, "a REG_DWORD value has four bytes");
  }
  return RegStatus::ok();
}

// Finds the key's section in a freshly read document.
RegStatus lookUp(const RegistryDocument& document, RootKey root, const std::string& path,
                 const RegistrySection*& section) {
  if (!document.fileError().empty()) return RegStatus::error(RegError::Malformed, document.fileError());
  std::string error;
  section = document.find(root, path, &error);
  if (!error.empty()) return RegStatus::error(RegError::Malformed, error);
  if (section == nullptr) return notFound(root, path);
  return RegStatus::ok();
}

RegStatus readSection(RootKey root, const std::string& path, RegistryDocument& document,
                      const RegistrySection*& section) {
  RegStatus status = loadRegistryFile(root, document);
  if (!status) return status;
  return lookUp(document, root, path, section);
}

}  // namespace

std::string registryFilePath(RootKey root) {
  return dataRoot() + "/registry/" + rootKeyName(root) + ".reg";
}

RegStatus RegistryKey::open(RootKey root, std::string_view path, RegistryKey& out) {
  out.close();
  std::string normal;
  RegStatus status = normalisePath(path, normal);
  if (!status) return status;
  if (!normal.empty()) {
    RegistryDocument document;
    const RegistrySection* section = nullptr;
    status = readSection(root, normal, document, section);
    if (!status) return status;
  }
  out.root_ = root;
  out.path_ = std::move(normal);
  out.id_ = nextKeyId++;
  return RegStatus::ok();
}

RegStatus RegistryKey::create(RootKey root, std::string_view path, RegistryKey& out) {
  out.close();
  std::string normal;
  RegStatus status = normalisePath(path, normal);
  if (!status) return status;
  if (!normal.empty()) {
    status = updateRegistryFile(root, [&](RegistryDocument& document, bool& changed) {
      std::string error;
      if (document.find(root, normal, &error) != nullptr) return RegStatus::ok();
      if (!error.empty()) return RegStatus::error(RegError::Malformed, error);
      document.findOrCreate(root, normal);
      changed = true;
      return RegStatus::ok();
    });
    if (!status) return status;
  }
  out.root_ = root;
  out.path_ = std::move(normal);
  out.id_ = nextKeyId++;
  return RegStatus::ok();
}

RegStatus RegistryKey::deleteTree(RootKey root, std::string_view path) {
  std::string normal;
  RegStatus status = normalisePath(path, normal);
  if (!status) return status;
  if (normal.empty()) return RegStatus::error(RegError::InvalidArgument, "a root key cannot be deleted");
  return updateRegistryFile(root, [&](RegistryDocument& document, bool& changed) {
    std::string error;
    if (document.find(root, normal, &error) == nullptr) {
      return error.empty() ? notFound(root, normal) : RegStatus::error(RegError::Malformed, error);
    }
    changed = document.removeTree(root, normal);
    return RegStatus::ok();
  });
}

RegStatus RegistryKey::queryValue(std::string_view name, RegValue& out) const {
  if (!isOpen()) return RegStatus::error(RegError::InvalidArgument, "the key is not open");
  RegistryDocument document;
  const RegistrySection* section = nullptr;
  if (path_.empty()) return valueNotFound(name);
  RegStatus status = readSection(root_, path_, document, section);
  if (!status) return status;
  const RegValue* value = section->findValue(name);
  if (value == nullptr) return valueNotFound(name);
  out = *value;
  return RegStatus::ok();
}

RegStatus RegistryKey::setValue(const RegValue& value) {
  if (!isOpen()) return RegStatus::error(RegError::InvalidArgument, "the key is not open");
  if (path_.empty()) return RegStatus::error(RegError::InvalidArgument, "values cannot be set on a root key");
  RegStatus status = checkValue(value);
  if (!status) return status;
  return updateRegistryFile(root_, [&](RegistryDocument& document, bool& changed) {
    std::string error;
    RegistrySection* section = document.find(root_, path_, &error);
    if (!error.empty()) return RegStatus::error(RegError::Malformed, error);
    if (section == nullptr) return notFound(root_, path_);
    const RegValue* existing = section->findValue(value.name);
    if (existing != nullptr && existing->type == value.type && existing->data == value.data) return RegStatus::ok();
    section->setValue(value);
    changed = true;
    return RegStatus::ok();
  });
}

RegStatus RegistryKey::deleteValue(std::string_view name) {
  if (!isOpen()) return RegStatus::error(RegError::InvalidArgument, "the key is not open");
  return updateRegistryFile(root_, [&](RegistryDocument& document, bool& changed) {
    std::string error;
    RegistrySection* section = document.find(root_, path_, &error);
    if (!error.empty()) return RegStatus::error(RegError::Malformed, error);
    if (section == nullptr) return notFound(root_, path_);
    if (!section->removeValue(name)) return valueNotFound(name);
    changed = true;
    return RegStatus::ok();
  });
}

RegStatus RegistryKey::values(std::vector<RegValue>& out) const {
  if (!isOpen()) return RegStatus::error(RegError::InvalidArgument, "the key is not open");
  out.clear();
  if (path_.empty()) return RegStatus::ok();
  RegistryDocument document;
  const RegistrySection* section = nullptr;
  RegStatus status = readSection(root_, path_, document, section);
  if (status) out = section->values;
  return status;
}

RegStatus RegistryKey::subkeys(std::vector<std::string>& out) const {
  if (!isOpen()) return RegStatus::error(RegError::InvalidArgument, "the key is not open");
  RegistryDocument document;
  RegStatus status = loadRegistryFile(root_, document);
  if (!status) return status;
  if (!path_.empty()) {
    const RegistrySection* section = nullptr;
    status = lookUp(document, root_, path_, section);
    if (!status) return status;
  }
  out = document.childNames(root_, path_);
  return RegStatus::ok();
}

RegStatus RegistryKey::notifyChange(bool withSubkeys, std::shared_ptr<Event> event) {
  if (!isOpen()) return RegStatus::error(RegError::InvalidArgument, "the key is not open");
  return RegistryNotifier::instance().arm(id_, root_, path_, withSubkeys, std::move(event));
}

void RegistryKey::close() {
  if (id_ == 0) return;
  RegistryNotifier::instance().cancel(id_);
  id_ = 0;
  path_.clear();
}

RegStatus exportKey(RootKey root, std::string_view path, std::string& text) {
  std::string normal;
  RegStatus status = normalisePath(path, normal);
  if (!status) return status;
  RegistryDocument document;
  status = loadRegistryFile(root, document);
  if (!status) return status;
  if (!normal.empty()) {
    const RegistrySection* section = nullptr;
    status = lookUp(document, root, normal, section);
    if (!status) return status;
  } else if (!document.fileError().empty()) {
    return RegStatus::error(RegError::Malformed, document.fileError());
  }
  text = document.exportText(root, normal, true);
  return RegStatus::ok();
}

RegStatus importText(std::string_view text, std::string_view fileName) {
  const RegistryDocument incoming = RegistryDocument::parse(text, fileName);
  const std::vector<std::string> errors = incoming.errors();
  if (!errors.empty()) return RegStatus::error(RegError::Malformed, errors.front());
  if (incoming.sections().empty()) {
    return RegStatus::error(RegError::Malformed, std::string(fileName) + ": holds no keys");
  }
  for (const RegistrySection& section : incoming.sections()) {
    std::string normal;
    RegStatus status = normalisePath(section.path, normal);
    if (!status) return status;
    if (normal.empty()) return RegStatus::error(RegError::InvalidArgument, "an import cannot change a root key");
    for (const RegValue& value : section.values) {
      status = checkValue(value);
      if (!status) return status;
    }
  }

  // Each root's file changes in one locked step.
  for (RootKey root : {RootKey::ClassesRoot, RootKey::CurrentUser, RootKey::LocalMachine, RootKey::Users,
                       RootKey::PerformanceData, RootKey::CurrentConfig, RootKey::DynData}) {
    bool any = false;
    for (const RegistrySection& section : incoming.sections()) any = any || section.root == root;
    if (!any) continue;
    RegStatus status = updateRegistryFile(root, [&](RegistryDocument& document, bool& changed) {
      for (const RegistrySection& section : incoming.sections()) {
        if (section.root != root) continue;
        std::string error;
        document.find(root, section.path, &error);
        if (!error.empty()) return RegStatus::error(RegError::Malformed, error);
        if (section.deleteKey) {
          changed = document.removeTree(root, section.path) || changed;
          continue;
        }
        RegistrySection& target = document.findOrCreate(root, section.path);
        for (const std::string& name : section.deletedValues) target.removeValue(name);
        for (const RegValue& value : section.values) target.setValue(value);
        changed = true;
      }
      return RegStatus::ok();
    });
    if (!status) return status;
  }
  return RegStatus::ok();
}

}  // namespace zem
