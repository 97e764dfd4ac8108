#include "container_fixture.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "container/exception_log.h"
#include "container/fail_points.h"
#include "platform/paths.h"
#include "platform/settings/settings_store.h"

namespace zem::test {

ContainerExports::~ContainerExports() { disarmFailPoints(); }

void ContainerExports::setIsLogTrace(const std::optional<RegValue>& value) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, kExceptionLogKey, key));
  if (value) {
    ASSERT_TRUE(key.setValue(*value));
  } else {
    key.deleteValue("IsLogTrace");
  }
}

void ContainerExports::createExceptionLogDirectory() {
  std::filesystem::create_directories(std::filesystem::path(nativePath(kExceptionLogPath)).parent_path());
}

bool ContainerExports::exceptionLogExists() { return std::filesystem::exists(nativePath(kExceptionLogPath)); }

std::vector<std::string> ContainerExports::exceptionLogMessages() {
  std::ifstream in(nativePath(kExceptionLogPath));  // text mode: "\n" line ends everywhere
  std::stringstream content;
  content << in.rdbuf();
  std::string text = content.str();

  // Every entry begins with a line end: "\n<date> <time>:<ms> <message>".
  static const std::regex entry(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} (.*)$)");
  std::vector<std::string> messages;
  if (text.empty()) return messages;
  EXPECT_EQ(text.front(), '\n');
  size_t start = 1;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    std::smatch match;
    if (std::regex_match(line, match, entry)) {
      messages.push_back(match[1]);
    } else {
      ADD_FAILURE() << "not an exception log line: \"" << line << "\"";
    }
    start = end + 1;
  }
  return messages;
}

}  // namespace zem::test
