#include "platform/settings/registry_document.h"

#include <gtest/gtest.h>

namespace {

using zem::RegistryDocument;
using zem::RegValue;
using zem::RootKey;

constexpr const char* kFile = "HKEY_LOCAL_MACHINE.reg";

TEST(RegistryDocument, RoundTripsEveryKindOfValue) {
  RegistryDocument document;
  auto& section = document.findOrCreate(RootKey::LocalMachine, "SOFTWARE\\Brasken\\Quorin\\Tarvo");
  section.setValue(RegValue::dword("IsLogTrace", 1));
  section.setValue(RegValue::text("LogPath", "D:\\Corvane\\Logs \"quoted\" [x]=y"));
  section.setValue(RegValue::text("Grüße \"name\" \\ [a]=b", "Größe ✓ 𝄞"));
  section.setValue(RegValue::text("", "default"));
  section.setValue(RegValue::text("Lines", "one\ntwo\t3"));
  section.setValue(RegValue{"Blob", 3, std::vector<uint8_t>(60, 0xab)});
  section.setValue(RegValue{"Expand", 2, {0x25, 0x00, 0x00, 0x00}});
  section.setValue(RegValue{"Empty", 0, {}});

  const std::string text = document.serialize();
  const RegistryDocument again = RegistryDocument::parse(text, kFile);
  ASSERT_TRUE(again.errors().empty()) << again.errors().front();
  const auto* read = again.find(RootKey::LocalMachine, "software\\brasken\\QUORIN\\tarvo");
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->values, section.values);
  EXPECT_EQ(again.serialize(), text);
  // Ancestors get sections of their own, as an export lists them.
  EXPECT_NE(again.find(RootKey::LocalMachine, "SOFTWARE\\Brasken"), nullptr);
}

TEST(RegistryDocument, WritesTheEditorsSyntax) {
  RegistryDocument document;
  auto& section = document.findOrCreate(RootKey::LocalMachine, "SOFTWARE\\Brasken");
  section.setValue(RegValue::dword("IsLogTrace", 10));
  section.setValue(RegValue::text("LogPath", "D:\\Logs"));
  EXPECT_EQ(document.serialize(),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken]\n"
            "\"IsLogTrace\"=dword:0000000a\n"
            "\"LogPath\"=\"D:\\\\Logs\"\n"
            "\n");
}

TEST(RegistryDocument, ReadsWhatTheEditorWrites) {
  const char* text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n"
      "@=\"default\"\r\n"
      "\"N\"=dword:1\r\n"
      "\"Long\"=hex:01,02,03,\\\r\n"
      "  04,05\r\n"
      "\"Sz\"=hex(1):41,00,42,00,00,00\r\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n"
      "\"M\"=\"merged\"\r\n";
  const RegistryDocument document = RegistryDocument::parse(text, kFile);
  ASSERT_TRUE(document.errors().empty()) << document.errors().front();
  const auto* section = document.find(RootKey::LocalMachine, "SOFTWARE\\A");
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(section->findValue("")->asText(), "default");
  EXPECT_EQ(section->findValue("n")->asDword(), 1u);
  EXPECT_EQ(section->findValue("Long")->data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(section->findValue("Sz")->asText(), "AB");
  EXPECT_TRUE(section->findValue("Sz")->isText());
  EXPECT_EQ(section->findValue("Q")->type, 11u);
  EXPECT_EQ(section->findValue("M")->asText(), "merged");
}

struct MalformedCase {
  const char* name;
  const char* badLines;  // placed as the second section
  const char* lineNumber;
};

TEST(RegistryDocument, BrokenSectionReadsMissingAndIsKeptVerbatim) {
  const MalformedCase cases[] = {
      {"unterminated text", "\"LogPath\"=\"D:\\\\Cor\n", ":7:"},
      {"bad dword", "\"N\"=dword:123456789\n", ":7:"},
      {"no equals", "\"N\" dword:1\n", ":7:"},
      {"unknown data", "\"N\"=word:1\n", ":7:"},
      {"bad hex", "\"N\"=hex:1,2\n", ":7:"},
      {"cut short in hex", "\"N\"=hex:01,\\\n", ":7:"},
      {"bare word", "IsLogTrace=1\n", ":7:"},
      {"unclosed key line", "", ":6:"},
  };
  for (const MalformedCase& c : cases) {
    std::string broken = std::string(c.name) == "unclosed key line" ? "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad\n"
                                                                     : std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad]\n") + c.badLines;
    const std::string text =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good]\n"
        "\"A\"=dword:00000001\n"
        "\n" +
        broken;
    RegistryDocument document = RegistryDocument::parse(text, kFile);
    ASSERT_EQ(document.errors().size(), 1u) << c.name;
    EXPECT_NE(document.errors()[0].find(std::string(kFile) + c.lineNumber), std::string::npos)
        << c.name << ": " << document.errors()[0];

    std::string error;
    EXPECT_EQ(document.find(RootKey::LocalMachine, "SOFTWARE\\Bad", &error), nullptr) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    ASSERT_NE(document.find(RootKey::LocalMachine, "SOFTWARE\\Good"), nullptr) << c.name;

    // A change elsewhere writes the broken lines back unchanged.
    document.find(RootKey::LocalMachine, "SOFTWARE\\Good")->setValue(RegValue::dword("B", 2));
    const std::string written = document.serialize();
    EXPECT_NE(written.find(broken), std::string::npos) << c.name;
    EXPECT_NE(written.find("\"B\"=dword:00000002"), std::string::npos) << c.name;
  }
}

TEST(RegistryDocument, TextWithoutHeaderIsUnusable) {
  const RegistryDocument document = RegistryDocument::parse("[HKEY_LOCAL_MACHINE\\X]\n\"A\"=dword:1\n", kFile);
  EXPECT_EQ(document.fileError(), std::string(kFile) + ":1: not a registry file: the first line must be "
                                                        "\"Windows Registry Editor Version 5.00\"");
  EXPECT_EQ(document.find(RootKey::LocalMachine, "X"), nullptr);
}

TEST(RegistryDocument, ImportDeletionsAndRootNames) {
  const RegistryDocument document = RegistryDocument::parse(
      "REGEDIT4\n\n[-HKLM\\SOFTWARE\\Old]\n\n[HKEY_CURRENT_USER\\X]\n\"gone\"=-\n", "import.reg");
  ASSERT_TRUE(document.errors().empty());
  ASSERT_EQ(document.sections().size(), 2u);
  EXPECT_TRUE(document.sections()[0].deleteKey);
  EXPECT_EQ(document.sections()[0].root, RootKey::LocalMachine);
  EXPECT_EQ(document.sections()[1].root, RootKey::CurrentUser);
  EXPECT_EQ(document.sections()[1].deletedValues, std::vector<std::string>{"gone"});
}

TEST(RegistryDocument, SubtreesAndChildren) {
  RegistryDocument document;
  document.findOrCreate(RootKey::LocalMachine, "S\\A\\One");
  document.findOrCreate(RootKey::LocalMachine, "S\\A\\Two\\Deep");
  document.findOrCreate(RootKey::LocalMachine, "S\\AB");
  EXPECT_EQ(document.childNames(RootKey::LocalMachine, "S\\A"), (std::vector<std::string>{"One", "Two"}));
  EXPECT_TRUE(document.removeTree(RootKey::LocalMachine, "s\\a"));
  EXPECT_EQ(document.find(RootKey::LocalMachine, "S\\A\\Two\\Deep"), nullptr);
  EXPECT_NE(document.find(RootKey::LocalMachine, "S\\AB"), nullptr);
}

}  // namespace
