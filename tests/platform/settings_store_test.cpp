#include "platform/settings/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/settings/registry_document.h"
#include "support/process.h"
#include "support/temp_root.h"

namespace {

using zem::RegError;
using zem::RegistryKey;
using zem::RootKey;

constexpr const char* kTarvo = "SOFTWARE\\Brasken\\Quorin\\Tarvo";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class SettingsStore : public ::testing::Test {
 protected:
  zem::test::TempRoot root_;
};

TEST_F(SettingsStore, TypedValuesAndTheirErrors) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, kTarvo, key));
  ASSERT_TRUE(key.setDword("ProviderQueueSize", 200));
  ASSERT_TRUE(key.setString("LogPath", "D:\\Corvane\\Logs\\Pellor"));

  RegistryKey reader;
  ASSERT_TRUE(RegistryKey::open(RootKey::LocalMachine, "software\\BRASKEN\\quorin\\tarvo\\", reader));
  uint32_t number = 0;
  std::string text;
  EXPECT_TRUE(reader.queryDword("providerqueuesize", number));
  EXPECT_EQ(number, 200u);
  EXPECT_TRUE(reader.queryString("LogPath", text));
  EXPECT_EQ(text, "D:\\Corvane\\Logs\\Pellor");

  EXPECT_EQ(reader.queryDword("LogPath", number).code, RegError::WrongType);
  EXPECT_EQ(reader.queryString("ProviderQueueSize", text).code, RegError::WrongType);
  EXPECT_EQ(reader.queryDword("Missing", number).code, RegError::NotFound);
  EXPECT_EQ(reader.setString("Bad", std::string("a\0b", 3)).code, RegError::InvalidArgument);
  EXPECT_EQ(reader.setString("Bad", "\xff\xfe").code, RegError::InvalidArgument);

  ASSERT_TRUE(reader.deleteValue("LOGPATH"));
  EXPECT_EQ(reader.queryString("LogPath", text).code, RegError::NotFound);
  EXPECT_EQ(reader.deleteValue("LogPath").code, RegError::NotFound);

  RegistryKey missing;
  EXPECT_EQ(RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\Nowhere", missing).code, RegError::NotFound);
  EXPECT_FALSE(missing.isOpen());
  EXPECT_EQ(RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\\\Twice", missing).code, RegError::InvalidArgument);
}

TEST_F(SettingsStore, KeysAndSubkeys) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Brasken\\Setup", key));
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, kTarvo, key));
  RegistryKey brasken;
  ASSERT_TRUE(RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\Brasken", brasken));
  std::vector<std::string> subkeys;
  ASSERT_TRUE(brasken.subkeys(subkeys));
  EXPECT_EQ(subkeys, (std::vector<std::string>{"Setup", "Quorin"}));

  ASSERT_TRUE(RegistryKey::deleteTree(RootKey::LocalMachine, "SOFTWARE\\Brasken\\Quorin"));
  EXPECT_EQ(key.setDword("X", 1).code, RegError::NotFound);  // the handle's key is gone
  ASSERT_TRUE(brasken.subkeys(subkeys));
  EXPECT_EQ(subkeys, std::vector<std::string>{"Setup"});
  EXPECT_EQ(RegistryKey::deleteTree(RootKey::LocalMachine, "SOFTWARE\\Brasken\\Quorin").code, RegError::NotFound);
}

TEST_F(SettingsStore, MalformedFileIsNeverRewrittenByReaders) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Good", key));
  ASSERT_TRUE(key.setDword("A", 1));
  const std::string file = zem::registryFilePath(RootKey::LocalMachine);
  const std::string broken = readFile(file) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad]\n\"LogPath\"=\"D:\\\\Cor";
  writeFile(file, broken);

  RegistryKey bad;
  const zem::RegStatus status = RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\Bad", bad);
  EXPECT_EQ(status.code, RegError::Malformed);
  EXPECT_NE(status.message.find(file + ":9:"), std::string::npos) << status.message;
  EXPECT_EQ(RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Bad", bad).code, RegError::Malformed);
  uint32_t number = 0;
  EXPECT_TRUE(key.queryDword("A", number));
  EXPECT_EQ(readFile(file), broken);

  // An explicit write elsewhere keeps the broken lines as they stand.
  ASSERT_TRUE(key.setDword("B", 2));
  const std::string after = readFile(file);
  EXPECT_NE(after.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad]\n\"LogPath\"=\"D:\\\\Cor"), std::string::npos) << after;
  EXPECT_NE(after.find("\"B\"=dword:00000002"), std::string::npos);
}

TEST_F(SettingsStore, FileWithoutHeaderRefusesWrites) {
  const std::string file = zem::registryFilePath(RootKey::LocalMachine);
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  const std::string text = "garbage\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n";
  writeFile(file, text);
  RegistryKey key;
  const zem::RegStatus status = RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Y", key);
  EXPECT_EQ(status.code, RegError::Malformed);
  EXPECT_NE(status.message.find(file + ":1:"), std::string::npos);
  EXPECT_EQ(readFile(file), text);
}

TEST_F(SettingsStore, ExportAndImportRoundTrip) {
  RegistryKey key;
  ASSERT_TRUE(RegistryKey::create(RootKey::LocalMachine, "SOFTWARE\\Round\\Sub", key));
  ASSERT_TRUE(key.setString("q\"uote\\[b]=", "ä \"x\" \\ [y]=z"));
  ASSERT_TRUE(key.setDword("n", 0xffffffff));
  std::string text;
  ASSERT_TRUE(zem::exportKey(RootKey::LocalMachine, "SOFTWARE\\Round", text));

  ASSERT_TRUE(RegistryKey::deleteTree(RootKey::LocalMachine, "SOFTWARE\\Round"));
  ASSERT_TRUE(zem::importText(text, "round.reg"));
  RegistryKey again;
  ASSERT_TRUE(RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\Round\\Sub", again));
  std::string value;
  uint32_t number = 0;
  EXPECT_TRUE(again.queryString("q\"uote\\[b]=", value));
  EXPECT_EQ(value, "ä \"x\" \\ [y]=z");
  EXPECT_TRUE(again.queryDword("n", number));
  EXPECT_EQ(number, 0xffffffffu);

  // Deletions, and nothing applied from a text that does not parse.
  ASSERT_TRUE(zem::importText("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Round\\Sub]\n"
                              "\"n\"=-\n",
                              "delete.reg"));
  EXPECT_EQ(again.queryDword("n", number).code, RegError::NotFound);
  const zem::RegStatus bad = zem::importText(
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Round\\Sub]\n\"n\"=dword:5\n\"m\"=dword:\n",
      "bad.reg");
  EXPECT_EQ(bad.code, RegError::Malformed);
  EXPECT_NE(bad.message.find("bad.reg:5:"), std::string::npos);
  EXPECT_EQ(again.queryDword("n", number).code, RegError::NotFound);
}

// Each write re-reads and rewrites the whole file, so the work grows with the
// square of the count; under the thread sanitizer, which slows every step many
// times over, a smaller count keeps the run short while the two writers still
// contend for the lock from start to end.
#if defined(__SANITIZE_THREAD__)
#define ZEM_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZEM_THREAD_SANITIZER 1
#endif
#endif
#if defined(ZEM_THREAD_SANITIZER)
constexpr int kValuesPerWriter = 200;
#else
constexpr int kValuesPerWriter = 1000;
#endif

TEST_F(SettingsStore, TwoWriterProcessesLoseNothing) {
  constexpr int kCount = kValuesPerWriter;
  std::vector<std::thread> writers;
  std::vector<zem::test::ProcessResult> results(2);
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&, w] {
      results[w] = zem::test::runProcess({STORE_HELPER, "write", "HKLM\\SOFTWARE\\Race",
                                          w == 0 ? "left" : "right", std::to_string(kCount)});
    });
  }
  for (auto& writer : writers) writer.join();
  for (const auto& result : results) ASSERT_EQ(result.exitCode, 0) << result.err;

  RegistryKey key;
  ASSERT_TRUE(RegistryKey::open(RootKey::LocalMachine, "SOFTWARE\\Race", key));
  std::vector<zem::RegValue> values;
  ASSERT_TRUE(key.values(values));
  EXPECT_EQ(values.size(), 2u * kCount);
  for (const char* prefix : {"left", "right"}) {
    for (int i = 0; i < kCount; ++i) {
      uint32_t number = 0;
      ASSERT_TRUE(key.queryDword(prefix + std::to_string(i), number)) << prefix << i;
      ASSERT_EQ(number, static_cast<uint32_t>(i));
    }
  }
}

}  // namespace
