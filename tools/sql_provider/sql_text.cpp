#include "sql_text.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace sqlprovider {
namespace {

struct NamedParameter {
  const char* name;
  Parameter parameter;
};
constexpr NamedParameter kNamed[] = {
    {"ref", Parameter::ref},   {"call", Parameter::call},           {"held_call", Parameter::heldCall},
    {"node", Parameter::node}, {"network_call", Parameter::networkCall}, {"received", Parameter::received},
};

bool isIdentifierStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

}  // namespace

std::string parameterName(Parameter parameter) {
  if (parameter <= Parameter::item10) return "$" + std::to_string(static_cast<int>(parameter));
  for (const NamedParameter& named : kNamed) {
    if (named.parameter == parameter) return std::string("$") + named.name;
  }
  return "$?";
}

SqlText::SqlText(std::string text, std::vector<TextPiece> pieces) : text_(std::move(text)), pieces_(std::move(pieces)) {
  scan();
}

int SqlText::lineAt(size_t offset) const {
  int line = firstLine();
  for (const TextPiece& piece : pieces_) {
    if (piece.offset > offset) break;
    line = piece.line;
  }
  return line;
}

void SqlText::scan() {
  const std::string& s = text_;
  const size_t n = s.size();
  size_t copiedFrom = 0;
  size_t i = 0;
  // Skips to just after the first `close` at or after `from`, or to the end.
  auto skipPast = [&](const std::string& close, size_t from) {
    const size_t at = s.find(close, from);
    return at == std::string::npos ? n : at + close.size();
  };
  while (i < n) {
    const char c = s[i];
    if (c == '\'' || c == '"') {
      // A doubled quote stays inside; E'...' strings also take \' as one.
      const bool backslashes = c == '\'' && i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') &&
                               (i < 2 || !isIdentifierChar(s[i - 2]));
      size_t j = i + 1;
      while (j < n) {
        if (backslashes && s[j] == '\\') {
          j += 2;
        } else if (s[j] == c) {
          if (j + 1 < n && s[j + 1] == c) {
            j += 2;
          } else {
            break;
          }
        } else {
          ++j;
        }
      }
      i = std::min(j + 1, n);
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      i = skipPast("\n", i);
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      i = skipPast("*/", i + 2);
    } else if (c == '$' && (i == 0 || !isIdentifierChar(s[i - 1]))) {
      size_t j = i + 1;
      if (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) {
        while (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        const std::string digits = s.substr(i + 1, j - i - 1);
        const long number = digits.size() > 3 ? 1000 : std::stol(digits);
        if (number < 1 || number > 10) {
          problems_.push_back({lineAt(i), "parameter $" + digits + " is past ten: the items are $1 to $10"});
        } else {
          const auto parameter = static_cast<Parameter>(number);
          auto found = std::find(parameters_.begin(), parameters_.end(), parameter);
          if (found == parameters_.end()) found = parameters_.insert(parameters_.end(), parameter);
          segments_.push_back({copiedFrom, i, static_cast<int>(found - parameters_.begin()) + 1});
          copiedFrom = j;
        }
        i = j;
      } else if (j < n && (isIdentifierStart(s[j]) || s[j] == '$')) {
        while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
        if (j < n && s[j] == '$') {
          // A dollar-quoted string: $$...$$ or $tag$...$tag$.
          const std::string tag = s.substr(i, j - i + 1);
          i = skipPast(tag, j + 1);
          continue;
        }
        const std::string name = s.substr(i + 1, j - i - 1);
        const auto named = std::find_if(std::begin(kNamed), std::end(kNamed),
                                        [&](const NamedParameter& p) { return name == p.name; });
        if (named == std::end(kNamed)) {
          problems_.push_back({lineAt(i), "unknown parameter $" + name +
                                              " (the parameters are $1 to $10, $ref, $call, $held_call, "
                                              "$network_call, $node and $received)"});
        } else {
          auto found = std::find(parameters_.begin(), parameters_.end(), named->parameter);
          if (found == parameters_.end()) found = parameters_.insert(parameters_.end(), named->parameter);
          segments_.push_back({copiedFrom, i, static_cast<int>(found - parameters_.begin()) + 1});
          copiedFrom = j;
        }
        i = j;
      } else {
        ++i;
      }
    } else if ((c == '?' || ((c == ':' || c == '@') && i + 1 < n && isIdentifierStart(s[i + 1]) &&
                              (i == 0 || s[i - 1] != ':'))) &&
               otherPlaceholder_.empty()) {
      size_t j = i + 1;
      while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
      otherPlaceholder_ = s.substr(i, j - i);
      otherPlaceholderLine_ = lineAt(i);
      i = j;
    } else {
      ++i;
    }
  }
  segments_.push_back({copiedFrom, n, 0});
}

SqlText::Rendered SqlText::render(Dialect dialect) const {
  Rendered out;
  for (const Segment& segment : segments_) {
    out.text.append(text_, segment.begin, segment.end - segment.begin);
    for (size_t k = segment.begin; k < segment.end; ++k) out.origin.push_back(k);
    if (segment.placeholder == 0) continue;
    const std::string placeholder = (dialect == Dialect::sqlite ? "?" : "$") + std::to_string(segment.placeholder);
    out.text += placeholder;
    out.origin.insert(out.origin.end(), placeholder.size(), segment.end);
  }
  return out;
}

}  // namespace sqlprovider
