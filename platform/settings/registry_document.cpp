#include "platform/settings/registry_document.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

namespace zem {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text starting at text[pos] == '"'; on success pos is just
// past the closing quote. Only \\ and \" are escapes; any other backslash
// stands for itself.
bool parseQuoted(std::string_view text, size_t& pos, std::string& out) {
  out.clear();
  for (size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out += text[++i];
      continue;
    }
    out += c;
  }
  return false;
}

std::string quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool hasControlCharacters(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// UTF-8 <-> UTF-16LE for REG_SZ data written in hex(1) form.
bool utf16leToUtf8(const std::vector<uint8_t>& bytes, std::string& out) {
  if (bytes.size() % 2 != 0) return false;
  std::vector<uint32_t> units;
  for (size_t i = 0; i < bytes.size(); i += 2) units.push_back(bytes[i] | (bytes[i + 1] << 8));
  while (!units.empty() && units.back() == 0) units.pop_back();
  out.clear();
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return true;
}

std::vector<uint8_t> utf8ToUtf16le(std::string_view text) {
  std::vector<uint8_t> out;
  auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  };
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    uint32_t cp = lead;
    size_t length = 1;
    if (lead >= 0xF0) {
      length = 4;
      cp = lead & 0x07;
    } else if (lead >= 0xE0) {
      length = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xC0) {
      length = 2;
      cp = lead & 0x1F;
    }
    for (size_t k = 1; k < length && i + k < text.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += length;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  put(0);
  return out;
}

std::string hexData(uint32_t type, const std::vector<uint8_t>& data, size_t prefixLength) {
  char tag[24];
  if (type == static_cast<uint32_t>(RegType::Binary)) {
    std::snprintf(tag, sizeof tag, "hex:");
  } else {
    std::snprintf(tag, sizeof tag, "hex(%x):", type);
  }
  std::string out = tag;
  size_t lineLength = prefixLength + out.size();
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    lineLength += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++lineLength;
      // The editor wraps long data after a comma, continuing with a backslash.
      if (lineLength > 76) {
        out += "\\\n  ";
        lineLength = 2;
      }
    }
  }
  return out;
}

std::string valueLine(const RegValue& value) {
  std::string line = value.name.empty() ? "@" : quote(value.name);
  line += '=';
  if (value.isDword()) {
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08x", value.asDword());
    line += number;
  } else if (value.isText() && !hasControlCharacters(value.asText())) {
    line += quote(value.asText());
  } else if (value.isText()) {
    line += hexData(value.type, utf8ToUtf16le(value.asText()), line.size());
  } else {
    line += hexData(value.type, value.data, line.size());
  }
  return line;
}

std::string sectionText(const RegistrySection& section) {
  if (section.broken()) return section.rawText;
  std::string text = "[";
  text += rootKeyName(section.root);
  if (!section.path.empty()) text += "\\" + section.path;
  text += "]\n";
  for (const RegValue& value : section.values) text += valueLine(value) + "\n";
  text += "\n";
  return text;
}

bool parseHexBytes(std::string_view list, std::vector<uint8_t>& out, std::string& reason) {
  out.clear();
  list = trim(list);
  if (list.empty()) return true;
  size_t pos = 0;
  while (true) {
    size_t comma = list.find(',', pos);
    std::string_view item = trim(list.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    if (item.size() != 2 || hexDigit(item[0]) < 0 || hexDigit(item[1]) < 0) {
      reason = "hex data must be two-digit bytes separated by commas";
      return false;
    }
    out.push_back(static_cast<uint8_t>(hexDigit(item[0]) * 16 + hexDigit(item[1])));
    if (comma == std::string_view::npos) return true;
    pos = comma + 1;
  }
}

// Parses the data after '=' into value (or marks a deletion).
bool parseData(std::string_view data, RegValue& value, bool& deletion, std::string& reason) {
  data = trim(data);
  deletion = false;
  if (data == "-") {
    deletion = true;
    return true;
  }
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!parseQuoted(data, pos, text)) {
      reason = "the text has no closing quote";
      return false;
    }
    if (!trim(data.substr(pos)).empty()) {
      reason = "unexpected characters after the closing quote";
      return false;
    }
    value.type = static_cast<uint32_t>(RegType::Sz);
    value.data.assign(text.begin(), text.end());
    return true;
  }
  if (startsWith(data, "dword:")) {
    std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return hexDigit(c) >= 0; })) {
      reason = "dword data must be 1 to 8 hexadecimal digits";
      return false;
    }
    uint32_t number = 0;
    for (char c : digits) number = number * 16 + static_cast<uint32_t>(hexDigit(c));
    value = RegValue::dword(value.name, number);
    return true;
  }
  if (startsWith(data, "hex")) {
    uint32_t type = static_cast<uint32_t>(RegType::Binary);
    size_t colon = data.find(':');
    if (colon == std::string_view::npos) {
      reason = "hex data needs a colon";
      return false;
    }
    std::string_view tag = data.substr(3, colon - 3);
    if (!tag.empty()) {
      if (tag.size() < 3 || tag.front() != '(' || tag.back() != ')' || tag.size() > 10) {
        reason = "hex type must be written hex(N)";
        return false;
      }
      type = 0;
      for (char c : tag.substr(1, tag.size() - 2)) {
        if (hexDigit(c) < 0) {
          reason = "hex type must be a hexadecimal number";
          return false;
        }
        type = type * 16 + static_cast<uint32_t>(hexDigit(c));
      }
    }
    std::vector<uint8_t> bytes;
    if (!parseHexBytes(data.substr(colon + 1), bytes, reason)) return false;
    value.type = type;
    if (type == static_cast<uint32_t>(RegType::Sz)) {
      std::string text;
      if (!utf16leToUtf8(bytes, text)) {
        reason = "hex(1) data is not UTF-16 text";
        return false;
      }
      value.data.assign(text.begin(), text.end());
    } else if (type == static_cast<uint32_t>(RegType::Dword) && bytes.size() != 4) {
      reason = "hex(4) data must be four bytes";
      return false;
    } else {
      value.data = std::move(bytes);
    }
    return true;
  }
  reason = "unknown data: expected \"text\", dword:, hex: or hex(N):";
  return false;
}

// A name given twice in one section keeps its first place and spelling and
// its last value; a hash keeps parsing linear in the number of values.
void foldRepeatedValues(std::vector<RegValue>& values) {
  std::unordered_map<std::string, size_t> firstIndex;
  std::vector<RegValue> folded;
  folded.reserve(values.size());
  for (RegValue& value : values) {
    std::string key = value.name;
    for (char& c : key) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    auto [it, inserted] = firstIndex.emplace(std::move(key), folded.size());
    if (inserted) {
      folded.push_back(std::move(value));
    } else {
      value.name = folded[it->second].name;
      folded[it->second] = std::move(value);
    }
  }
  values = std::move(folded);
}

std::string located(std::string_view fileName, size_t lineNumber, std::string_view reason) {
  return std::string(fileName) + ":" + std::to_string(lineNumber) + ": " + std::string(reason);
}

std::string normalisedPath(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

}  // namespace

bool isSameOrBelow(std::string_view child, std::string_view path) {
  if (path.empty()) return true;
  if (child.size() < path.size() || !equalsIgnoreCase(child.substr(0, path.size()), path)) return false;
  return child.size() == path.size() || child[path.size()] == '\\';
}

const RegValue* RegistrySection::findValue(std::string_view name) const {
  for (const RegValue& value : values) {
    if (equalsIgnoreCase(value.name, name)) return &value;
  }
  return nullptr;
}

void RegistrySection::setValue(RegValue value) {
  for (RegValue& existing : values) {
    if (equalsIgnoreCase(existing.name, value.name)) {
      // The stored name keeps its first spelling, as the registry does.
      value.name = existing.name;
      existing = std::move(value);
      return;
    }
  }
  values.push_back(std::move(value));
}

bool RegistrySection::removeValue(std::string_view name) {
  auto it = std::find_if(values.begin(), values.end(),
                         [name](const RegValue& value) { return equalsIgnoreCase(value.name, name); });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

RegistryDocument RegistryDocument::parse(std::string_view text, std::string_view fileName) {
  RegistryDocument document;
  if (startsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::vector<std::string_view> lines = splitLines(text);

  size_t index = 0;
  while (index < lines.size() && trim(lines[index]).empty()) ++index;
  if (index == lines.size()) return document;  // an empty file is an empty store
  const std::string_view header = trim(lines[index]);
  if (header != kHeader && header != kOldHeader) {
    document.fileError_ = located(fileName, index + 1, "not a registry file: the first line must be \"" +
                                                           std::string(kHeader) + "\"");
    return document;
  }
  ++index;

  RegistrySection* current = nullptr;
  auto markBroken = [&](size_t lineNumber, const std::string& reason) {
    if (current != nullptr && !current->broken()) current->error = located(fileName, lineNumber, reason);
  };

  for (; index < lines.size(); ++index) {
    const std::string_view raw = lines[index];
    const std::string_view line = trim(raw);
    const size_t lineNumber = index + 1;

    if (!line.empty() && line[0] == '[') {
      document.sections_.emplace_back();
      current = &document.sections_.back();
      current->rawText = std::string(raw) + "\n";
      // An unclosed key line still names its key, so that the key reads as
      // broken rather than simply absent.
      const size_t close = line.rfind(']');
      std::string_view name = close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
      if (close == std::string_view::npos || close + 1 != line.size()) {
        markBroken(lineNumber, "a key line must end with ']'");
      }
      if (!name.empty() && name[0] == '-') {
        current->deleteKey = true;
        name.remove_prefix(1);
      }
      const size_t slash = name.find('\\');
      const auto root = parseRootKey(name.substr(0, slash));
      if (!root) {
        markBroken(lineNumber, "unknown root key in \"" + std::string(name) + "\"");
        current->path = std::string(name);
        continue;
      }
      current->root = *root;
      current->path = slash == std::string_view::npos ? std::string() : normalisedPath(name.substr(slash + 1));
      if (current->path.find("\\\\") != std::string::npos) markBroken(lineNumber, "empty key name in the path");
      continue;
    }

    if (line.empty() || line[0] == ';') {
      if (current != nullptr) current->rawText += std::string(raw) + "\n";
      continue;
    }

    if (current == nullptr) {
      document.fileError_ = located(fileName, lineNumber, "a value line before the first [key] line");
      document.sections_.clear();
      return document;
    }
    current->rawText += std::string(raw) + "\n";

    // Hex data may run over several lines, each but the last ending in '\'.
    std::string logical(line);
    size_t equals = std::string::npos;
    {
      size_t pos = 0;
      std::string name;
      if (line[0] == '"' && parseQuoted(line, pos, name)) {
        equals = line.find('=', pos);
      } else if (line[0] == '@') {
        equals = line.find('=');
      }
    }
    if (equals != std::string::npos && startsWith(trim(std::string_view(logical).substr(equals + 1)), "hex")) {
      bool cutShort = false;
      while (!logical.empty() && logical.back() == '\\') {
        logical.pop_back();
        if (index + 1 >= lines.size()) {
          cutShort = true;
          break;
        }
        ++index;
        current->rawText += std::string(lines[index]) + "\n";
        logical += trim(lines[index]);
      }
      if (cutShort) {
        markBroken(lineNumber, "hex data continues past the end of the file");
        continue;
      }
    }
    if (current->broken()) continue;

    RegValue value;
    size_t pos = 0;
    if (logical[0] == '@') {
      pos = 1;
    } else if (logical[0] != '"' || !parseQuoted(logical, pos, value.name)) {
      markBroken(lineNumber, logical[0] == '"' ? "the value name has no closing quote"
                                               : "a value line must start with \"name\" or @");
      continue;
    }
    std::string_view rest = trim(std::string_view(logical).substr(pos));
    if (rest.empty() || rest[0] != '=') {
      markBroken(lineNumber, "expected '=' after the value name");
      continue;
    }
    bool deletion = false;
    std::string reason;
    if (!parseData(rest.substr(1), value, deletion, reason)) {
      markBroken(lineNumber, reason);
      continue;
    }
    if (deletion) {
      current->deletedValues.push_back(value.name);
    } else {
      current->values.push_back(std::move(value));  // duplicates are folded below
    }
  }

  // Repeated sections of one key merge into the first, as an import would.
  std::vector<RegistrySection> merged;
  for (RegistrySection& section : document.sections_) {
    if (!section.broken()) {
      section.rawText.clear();
      foldRepeatedValues(section.values);
      if (!section.deleteKey) {
        auto same = std::find_if(merged.begin(), merged.end(), [&](const RegistrySection& other) {
          return !other.broken() && !other.deleteKey && other.root == section.root &&
                 equalsIgnoreCase(other.path, section.path);
        });
        if (same != merged.end()) {
          for (RegValue& value : section.values) same->setValue(std::move(value));
          continue;
        }
      }
    }
    merged.push_back(std::move(section));
  }
  document.sections_ = std::move(merged);
  return document;
}

std::vector<std::string> RegistryDocument::errors() const {
  std::vector<std::string> all;
  if (!fileError_.empty()) all.push_back(fileError_);
  for (const RegistrySection& section : sections_) {
    if (section.broken()) all.push_back(section.error);
  }
  return all;
}

std::string RegistryDocument::serialize() const {
  std::string text = std::string(kHeader) + "\n\n";
  for (const RegistrySection& section : sections_) text += sectionText(section);
  return text;
}

std::string RegistryDocument::exportText(RootKey root, std::string_view path, bool withSubkeys) const {
  std::string text = std::string(kHeader) + "\n\n";
  for (const RegistrySection& section : sections_) {
    if (section.root != root) continue;
    const bool selected = withSubkeys ? isSameOrBelow(section.path, path) : equalsIgnoreCase(section.path, path);
    if (selected) text += sectionText(section);
  }
  return text;
}

const RegistrySection* RegistryDocument::find(RootKey root, std::string_view path, std::string* error) const {
  const RegistrySection* found = nullptr;
  for (const RegistrySection& section : sections_) {
    if (section.root != root || section.deleteKey || !equalsIgnoreCase(section.path, path)) continue;
    if (section.broken()) {
      if (error != nullptr) *error = section.error;
      return nullptr;
    }
    if (found == nullptr) found = &section;
  }
  return found;
}

RegistrySection* RegistryDocument::find(RootKey root, std::string_view path, std::string* error) {
  return const_cast<RegistrySection*>(std::as_const(*this).find(root, path, error));
}

RegistrySection& RegistryDocument::findOrCreate(RootKey root, std::string_view path) {
  // Ancestors first, so that every key of the file has its own section.
  size_t slash = path.find('\\');
  while (slash != std::string_view::npos) {
    if (find(root, path.substr(0, slash)) == nullptr) {
      RegistrySection ancestor;
      ancestor.root = root;
      ancestor.path = std::string(path.substr(0, slash));
      sections_.push_back(std::move(ancestor));
    }
    slash = path.find('\\', slash + 1);
  }
  if (RegistrySection* existing = find(root, path)) return *existing;
  RegistrySection section;
  section.root = root;
  section.path = std::string(path);
  sections_.push_back(std::move(section));
  return sections_.back();
}

bool RegistryDocument::removeTree(RootKey root, std::string_view path) {
  const auto before = sections_.size();
  std::erase_if(sections_, [&](const RegistrySection& section) {
    return section.root == root && !section.broken() && isSameOrBelow(section.path, path);
  });
  return sections_.size() != before;
}

std::vector<std::string> RegistryDocument::childNames(RootKey root, std::string_view path) const {
  std::vector<std::string> names;
  for (const RegistrySection& section : sections_) {
    if (section.root != root || section.broken() || section.deleteKey) continue;
    if (!isSameOrBelow(section.path, path) || section.path.size() == path.size()) continue;
    std::string_view rest = std::string_view(section.path).substr(path.empty() ? 0 : path.size() + 1);
    std::string_view child = rest.substr(0, rest.find('\\'));
    if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return equalsIgnoreCase(n, child); })) {
      names.emplace_back(child);
    }
  }
  return names;
}

}  // namespace zem
