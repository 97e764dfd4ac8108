// The bytes of "ProviderOutput.log" for messages the panel shows, and what
// happens when the file cannot be opened.
#include <QFile>

#include "testprovider/panel_fixture.h"

namespace rigbench::test {
namespace {

// UTF-16 little-endian code units of a text, as the log holds them.
std::string utf16le(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xff));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string fileBytes(const char* name) {
  QFile file(QString::fromLatin1(name));
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

const std::u16string kRequestRecord =
    u"\n==============================\nCall id = 11\nHeld Call id = -12\nNetwork Call id = 13\nNode id = 14"
    u"\nParameter 1 = caf\u00e9\nParameter 2 = \nParameter 3 = three\nParameter 4 = \nParameter 5 = "
    u"\nParameter 6 = \nParameter 7 = \nParameter 8 = \nParameter 9 = \nParameter 10 = ";
const std::u16string kEmptyInfoRecord =
    u"\n==============================\nCall id = 0\nHeld Call id = 0\nNetwork Call id = 0\nNode id = 0"
    u"\nParameter 1 = \nParameter 2 = \nParameter 3 = \nParameter 4 = \nParameter 5 = "
    u"\nParameter 6 = \nParameter 7 = \nParameter 8 = \nParameter 9 = \nParameter 10 = ";

TEST_F(PanelTest, ShownMessagesAreAppendedAsUtf16Records) {
  startSimulator();
  std::ofstream("ProviderOutput.log") << "earlier run";
  connectAndRegister();
  click(kLogToFileCheck);
  EXPECT_EQ(panel_.outputLog().state(), OutputLog::State::Open);

  send(1, {"caf\xc3\xa9", "", "three"}, "request",
       {{"callId", 11}, {"heldCallId", -12}, {"networkCallId", 13}, {"nodeId", 14}});
  send(2, {}, "info");
  ASSERT_TRUE(waitUntil([&] { return panel_.members().infosReceived == 1; }));

  // Not shown, not logged; unchecked, not logged; checked again, the same
  // file goes on.
  click(kDontShowCheck);
  send(3, {"hidden"});
  ASSERT_TRUE(waitUntil([&] { return panel_.members().requestsReceived == 2; }));
  click(kDontShowCheck);
  click(kLogToFileCheck);
  send(4, {"unlogged"});
  ASSERT_TRUE(waitUntil([&] { return panel_.members().requestsReceived == 3; }));
  click(kLogToFileCheck);
  send(5, {}, "info");
  ASSERT_TRUE(waitUntil([&] { return panel_.members().infosReceived == 2; }));

  EXPECT_EQ(fileBytes("ProviderOutput.log"),
            "earlier run" + utf16le(kRequestRecord) + utf16le(kEmptyInfoRecord) + utf16le(kEmptyInfoRecord));
}

TEST_F(PanelTest, ALogThatCannotBeOpenedIsReportedOnceAndNeverWritten) {
  startSimulator();
  std::filesystem::create_directory("ProviderOutput.log");  // a directory cannot be opened for writing
  connectAndRegister();
  click(kLogToFileCheck);
  EXPECT_EQ(panel_.outputLog().state(), OutputLog::State::Failed);
  const auto messages = view_.takeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("Cannot open ProviderOutput.log: "))) << messages[0].text.toStdString();

  // No second try in this run, and the window goes on showing messages.
  click(kLogToFileCheck);
  click(kLogToFileCheck);
  send(1, {"still shown"});
  ASSERT_TRUE(waitUntil([&] { return panel_.members().requestsReceived == 1; }));
  EXPECT_EQ(view_.text(kReceivedParameterEdits[0]), QStringLiteral("still shown"));
  EXPECT_TRUE(view_.messages().empty());
}

}  // namespace
}  // namespace rigbench::test
