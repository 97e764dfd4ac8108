#include "config.h"

#include "item_text.h"
#include "zemlink.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

namespace sqlprovider {
namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct Entry {
  std::string value;
  int line = 0;
  std::vector<TextPiece> pieces;
};

struct Section {
  std::string name;  // as written, without the blanks around it
  int line = 0;
  std::map<std::string, Entry> entries;  // by lower-case key
};

// What the reader and the handler gather while inih parses.
struct Reading {
  FILE* file = nullptr;
  int line = 0;
  bool indented = false;
  int lineLimit = 0;
  std::vector<Section> sections;
  std::string lastKey;  // of the entry a continuation line adds to
  std::vector<ConfigProblem> problems;

  Section& current() { return sections.back(); }
};

// inih's line reader, counting lines so that every entry knows its own, and
// watching section lines (inih does not report a section without keys).
char* readLine(char* buffer, int size, void* stream) {
  auto* reading = static_cast<Reading*>(stream);
  if (std::fgets(buffer, size, reading->file) == nullptr) return nullptr;
  ++reading->line;
  reading->lineLimit = size - 1;
  size_t length = std::strlen(buffer);
  if (length > 0 && buffer[length - 1] != '\n') {
    int next = std::fgetc(reading->file);
    if (next != EOF && next != '\n') {
      while (next != EOF && next != '\n') next = std::fgetc(reading->file);
      reading->problems.push_back({reading->line, "the line is longer than " + std::to_string(size - 1) +
                                                      " characters: continue a long value on indented lines"});
      std::strcpy(buffer, "\n");
      reading->indented = false;
      return buffer;
    }
  }
  const std::string line = trimmed(buffer);
  reading->indented = buffer[0] == ' ' || buffer[0] == '\t';
  if (line.empty() || line[0] == ';' || line[0] == '#') return buffer;
  if (line[0] == '[') {
    const size_t close = line.find(']');
    if (close == std::string::npos) {
      reading->problems.push_back({reading->line, "a section line lacks its closing \"]\""});
    } else {
      reading->sections.push_back({trimmed(line.substr(1, close - 1)), reading->line, {}});
      reading->lastKey.clear();
    }
  } else if (!(reading->indented && !reading->lastKey.empty()) && line.find_first_of("=:") == std::string::npos) {
    reading->problems.push_back({reading->line, "\"" + line + "\" is not a [section], a key = value, a comment "
                                                              "or an indented continuation"});
  }
  return buffer;
}

int onEntry(void* user, const char* /*section*/, const char* name, const char* value) {
  auto* reading = static_cast<Reading*>(user);
  if (reading->sections.empty()) {
    reading->problems.push_back({reading->line, std::string("\"") + name + "\" stands before the first [section]"});
    return 1;
  }
  Section& section = reading->current();
  const std::string key = lower(name);
  if (reading->indented && key == reading->lastKey) {
    Entry& entry = section.entries[key];
    entry.pieces.push_back({entry.value.size() + 1, reading->line});
    entry.value += "\n";
    entry.value += value;
    return 1;
  }
  reading->lastKey = key;
  const auto [it, added] = section.entries.try_emplace(key, Entry{value, reading->line, {{0, reading->line}}});
  if (!added) {
    reading->problems.push_back({reading->line, "\"" + key + "\" is given twice in [" + section.name +
                                                    "] (first on line " + std::to_string(it->second.line) + ")"});
  }
  return 1;
}

// Reads the entries of one section into the config, reporting what is wrong.
class SectionReader {
 public:
  SectionReader(const Section& section, std::vector<ConfigProblem>& problems) : section_(section), problems_(problems) {}

  const Entry* find(const std::string& key) {
    known_.push_back(key);
    const auto it = section_.entries.find(key);
    return it == section_.entries.end() ? nullptr : &it->second;
  }
  std::string text(const std::string& key, bool required, const std::string& fallback = {}) {
    const Entry* entry = find(key);
    if (entry == nullptr) {
      if (required) problem(section_.line, "[" + section_.name + "] lacks " + key);
      return fallback;
    }
    if (trimmed(entry->value).empty() && required) problem(entry->line, key + " is empty");
    return entry->value;
  }
  long number(const std::string& key, long low, long high, long fallback, bool required = false) {
    const Entry* entry = find(key);
    if (entry == nullptr) {
      if (required) problem(section_.line, "[" + section_.name + "] lacks " + key);
      return fallback;
    }
    const std::string value = trimmed(entry->value);
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || parsed < low || parsed > high) {
      problem(entry->line, key + ": \"" + value + "\" is not a number from " + std::to_string(low) + " to " +
                               std::to_string(high));
      return fallback;
    }
    return static_cast<long>(parsed);
  }
  // Items separated by "|", each cut of the blanks around it.
  Answer answer(const std::string& key, const Answer& fallback) {
    const Entry* entry = find(key);
    if (entry == nullptr) return fallback;
    Answer items;
    size_t from = 0;
    while (true) {
      const size_t bar = entry->value.find('|', from);
      items.push_back(trimmed(entry->value.substr(from, bar == std::string::npos ? std::string::npos : bar - from)));
      if (bar == std::string::npos) break;
      from = bar + 1;
    }
    if (items.size() > 10) problem(entry->line, key + ": " + std::to_string(items.size()) + " items; at most 10");
    for (const std::string& item : items) {
      if (utf16Length(item) > ZEM_MAX_ITEM_LENGTH) problem(entry->line, key + ": the item \"" + item.substr(0, 20) + "...\" is longer than 80 characters");
    }
    return items;
  }
  SqlText sql(const std::string& key) {
    const Entry* entry = find(key);
    if (entry == nullptr) {
      problem(section_.line, "[" + section_.name + "] lacks " + key);
      return SqlText({}, {{0, section_.line}});
    }
    SqlText text(entry->value, entry->pieces);
    if (trimmed(entry->value).empty()) problem(entry->line, key + " is empty");
    for (const SqlText::Problem& found : text.problems()) problem(found.line, key + ": " + found.message);
    return text;
  }
  int line(const std::string& key) {
    const auto it = section_.entries.find(key);
    return it == section_.entries.end() ? section_.line : it->second.line;
  }
  // Every key of the section that no one asked for.
  void reportUnknownKeys() {
    for (const auto& [key, entry] : section_.entries) {
      if (std::find(known_.begin(), known_.end(), key) == known_.end()) {
        problem(entry.line, "unknown key \"" + key + "\" in [" + section_.name + "]");
      }
    }
  }
  void problem(int line, std::string message) { problems_.push_back({line, std::move(message)}); }

 private:
  const Section& section_;
  std::vector<ConfigProblem>& problems_;
  std::vector<std::string> known_;
};

}  // namespace

std::string describe(const std::string& path, const ConfigProblem& problem) {
  return path + (problem.line > 0 ? ":" + std::to_string(problem.line) : std::string()) + ": " + problem.message;
}

const Query* Config::queryFor(const std::string& text) const {
  const Query* fallback = nullptr;
  for (const Query& query : queries) {
    if (query.name.empty()) {
      fallback = &query;
    } else if (queryItem > 0 && query.name == text) {
      return &query;
    }
  }
  return fallback;
}

LoadedConfig loadConfig(const std::string& path) {
  LoadedConfig loaded;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  if (!file) {
    loaded.problems.push_back({0, std::string("cannot read the file: ") + std::strerror(errno)});
    return loaded;
  }
  Reading reading;
  reading.file = file.get();
  const int firstError = ini_parse_stream(&readLine, &reading, &onEntry, &reading);
  std::vector<ConfigProblem>& problems = reading.problems;
  if (firstError > 0 && std::none_of(problems.begin(), problems.end(),
                                     [&](const ConfigProblem& p) { return p.line == firstError; })) {
    problems.push_back({firstError, "the line does not parse"});
  }

  Config config;
  config.path = absolute.string();
  const Answer defaultNotFound = {"NOTFOUND"};
  const Answer defaultFailed = {"ERROR"};
  Answer notFound = defaultNotFound;
  Answer failed = defaultFailed;
  std::map<std::string, int> seen;  // the sections so far, and their lines
  std::vector<const Section*> querySections;
  bool haveServer = false, haveDatabase = false;

  for (const Section& section : reading.sections) {
    const std::string kind = lower(section.name);
    const bool isQuery = kind == "query" || kind.rfind("query ", 0) == 0;
    // Query names are matched as written; other sections in any case.
    const std::string identity = isQuery ? "query " + trimmed(section.name.substr(5)) : kind;
    const auto [it, first] = seen.try_emplace(identity, section.line);
    if (!first) {
      problems.push_back({section.line, "[" + section.name + "] is given twice (first on line " +
                                            std::to_string(it->second) + ")"});
      continue;
    }
    SectionReader read(section, problems);
    if (kind == "server") {
      haveServer = true;
      config.serverAddress = trimmed(read.text("address", true));
      config.providerId = static_cast<uint32_t>(read.number("provider", 1, 1999999999, 0, true));
    } else if (kind == "rpc") {
      config.port = trimmed(read.text("port", true));
    } else if (kind == "database") {
      haveDatabase = true;
      DatabaseSettings& database = config.database;
      const std::string type = lower(trimmed(read.text("type", false, "sqlite")));
      if (type == "sqlite") {
        database.type = DatabaseType::sqlite;
        const std::string file = trimmed(read.text("file", true));
        database.line = read.line("file");
        if (!file.empty()) {
          database.file = (absolute.parent_path() / file).lexically_normal().string();
        }
      } else if (type == "postgresql") {
        database.type = DatabaseType::postgresql;
        database.connect = trimmed(read.text("connect", true));
        database.line = read.line("connect");
      } else {
        read.problem(read.line("type"), "type: \"" + type + "\" is neither sqlite nor postgresql");
      }
      database.connections = static_cast<int>(read.number("connections", 1, 16, 2));
      database.retryMaxSeconds = static_cast<int>(read.number("retry_max", 1, 3600, 30));
      // The key of the other type is a slip worth naming.
      if (type == "sqlite" && read.find("connect") != nullptr) {
        read.problem(read.line("connect"), "connect is for type postgresql; sqlite takes file");
      } else if (type == "postgresql" && read.find("file") != nullptr) {
        read.problem(read.line("file"), "file is for type sqlite; postgresql takes connect");
      }
    } else if (kind == "requests") {
      config.queryItem = static_cast<int>(read.number("query_item", 1, 10, 0));
      notFound = read.answer("not_found", defaultNotFound);
      failed = read.answer("failed", defaultFailed);
    } else if (isQuery) {
      querySections.push_back(&section);
      continue;  // read once [requests] is known
    } else if (kind == "informational") {
      InformationalSettings informational{read.sql("sql")};
      informational.batch = static_cast<int>(read.number("batch", 1, 10000, 100));
      informational.waitMs = static_cast<int>(read.number("wait_ms", 10, 60000, 500));
      informational.keep = static_cast<int>(read.number("keep", 100, 10000000, 100000));
      config.informational.emplace(std::move(informational));
    } else {
      problems.push_back({section.line, "unknown section [" + section.name +
                                            "] (the sections are [server], [RPC], [database], [requests], "
                                            "[query], [query NAME] and [informational])"});
      continue;
    }
    read.reportUnknownKeys();
  }

  for (const Section* section : querySections) {
    SectionReader read(*section, problems);
    Query query{trimmed(section->name.substr(5)), section->line, read.sql("sql"), {}, {}};
    query.notFound = read.answer("not_found", notFound);
    query.failed = read.answer("failed", failed);
    if (!query.name.empty() && config.queryItem == 0) {
      read.problem(section->line, "[" + section->name + "] is never chosen: [requests] names no query_item");
    }
    read.reportUnknownKeys();
    config.queries.push_back(std::move(query));
  }
  config.notFound = notFound;
  config.failed = failed;
  if (!haveServer) problems.push_back({0, "no [server] section"});
  if (!haveDatabase) problems.push_back({0, "no [database] section"});
  if (config.queries.empty()) problems.push_back({0, "no [query] section: nothing would answer a request"});

  std::stable_sort(problems.begin(), problems.end(), [](const ConfigProblem& a, const ConfigProblem& b) {
    return (a.line == 0 ? INT32_MAX : a.line) < (b.line == 0 ? INT32_MAX : b.line);
  });
  loaded.problems = std::move(problems);
  if (loaded.problems.empty()) loaded.config.emplace(std::move(config));
  return loaded;
}

}  // namespace sqlprovider
