// How answers are built, as one table of cases: each case sets the
// completion panel up the way an operator would, then lets the simulator
// send requests that the panel answers automatically, and compares the
// items of every completion the simulator received.
#include <QDateTime>
#include <QRegularExpression>
#include <functional>

#include "support/character_type.h"
#include "testprovider/panel_fixture.h"

namespace rigbench::test {
namespace {

using Items = std::vector<std::string>;

const Items kRequestItems = {"r1", "", "r3", "r4", "", "r6", "r7", "r8", "", "r10"};

// The ten strings the simulator records for a completion: the items sent,
// then empty ones.
Items padded(Items items) {
  items.resize(10);
  return items;
}

struct Answer {
  // Done before the request that this answer replies to is sent.
  std::function<void(PanelTest&)> before;
  // Either the exact items, or a check of them (for generated values).
  Items expected;
  std::function<void(const Items&, PanelTest&)> check = {};
};

struct AnswerCase {
  std::string name;
  std::function<void(PanelTest&)> setUp;
  std::vector<Answer> answers;
};

void PrintTo(const AnswerCase& table, std::ostream* out) { *out << table.name; }

class AnswerBuilding : public PanelTest, public ::testing::WithParamInterface<AnswerCase> {
 public:
  // The fixture's helpers, for the table's lambdas.
  using PanelTest::chooseFeature;
  using PanelTest::click;
  using PanelTest::sendParameter;
  using PanelTest::view_;
};

void nothing(PanelTest&) {}

void typeInto(PanelTest& test, int id, const char* text) {
  static_cast<AnswerBuilding&>(test).view_.setText(id, QString::fromUtf8(text));
}

bool isNumberWithin(const std::string& text, long long low, long long high) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const long long value = std::stoll(text);
  return value >= low && value <= high;
}

const AnswerCase kCases[] = {
    {"NoParameterCheckedSendsNoItems", nothing, {{nothing, {}}}},
    {"UncheckedParametersAreLeftOutWithoutGaps",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(2, "two");
       test.sendParameter(5, "five");
       test.sendParameter(10, "ten");
       test.view_.setText(kReturnParameterEdits[3], QStringLiteral("typed but unchecked"));
     },
     {{nothing, {"two", "five", "ten"}}}},
    {"AllTenParametersInOrderLongTextsCutAt80",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       for (int k = 1; k <= 10; ++k) test.sendParameter(k, QStringLiteral("p%1").arg(k));
       test.view_.setText(kReturnParameterEdits[9], QString(85, QLatin1Char('x')));
     },
     {{nothing, {"p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "p9", std::string(80, 'x')}}}},
    {"ParametersOfEightyCharactersInAnyScriptGoWhole",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(1, QString(80, QChar(0x00e9)));
       test.sendParameter(2, QString(85, QChar(0x20ac)));
       test.sendParameter(3, QString::fromUtf8("\xf0\x9f\x93\x9e").repeated(40));
     },
     {{nothing,
       {zem::test::repeated("\xc3\xa9", 80), zem::test::repeated("\xe2\x82\xac", 80),
        zem::test::repeated("\xf0\x9f\x93\x9e", 40)}}}},
    {"EchoSendsExactlyTheTenItemsReceived",
     [](PanelTest& t) { static_cast<AnswerBuilding&>(t).click(kEchoCheck); },
     {{nothing, kRequestItems}, {nothing, kRequestItems}}},
    {"EchoStillAnswersWhenNothingIsShown",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.click(kDontShowCheck);
       test.click(kEchoCheck);
     },
     {{nothing, kRequestItems,
       [](const Items&, PanelTest& t) {
         EXPECT_EQ(static_cast<AnswerBuilding&>(t).view_.text(kReceivedParameterEdits[0]), QStringLiteral(" "));
       }}}},
    {"LastSetRightAfterStartSendsNoItems",
     [](PanelTest& t) { static_cast<AnswerBuilding&>(t).click(kUseLastSetCheck); }, {{nothing, {}}}},
    {"LastSetRepeatsTheNonEmptyValuesOfTheLastAnswer",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(1, "one");
       test.sendParameter(3, "");
       test.sendParameter(4, "four");
     },
     {{nothing, {"one", "", "four"}},
      {[](PanelTest& t) {
         auto& test = static_cast<AnswerBuilding&>(t);
         test.click(kUseLastSetCheck);
         test.view_.setText(kReturnParameterEdits[0], QStringLiteral("changed"));
       },
       {"one", "four"}}}},
    {"AutoIncrementSendsOneMoreAndKeepsIt",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(1, "41");
       test.click(kAutoIncrementCheck);
     },
     {{nothing, {"42"}},
      {nothing, {"43"},
       [](const Items&, PanelTest& t) {
         EXPECT_EQ(static_cast<AnswerBuilding&>(t).view_.text(kReturnParameterEdits[0]), QStringLiteral("43"));
       }},
      {[](PanelTest& t) { typeInto(t, kReturnParameterEdits[0], "1999999999"); }, {"1"}},
      {[](PanelTest& t) { typeInto(t, kReturnParameterEdits[0], "calls"); }, {"1"}},
      {[](PanelTest& t) { typeInto(t, kReturnParameterEdits[0], " 17 calls"); }, {"18"}},
      {[](PanelTest& t) { typeInto(t, kReturnParameterEdits[0], "-1"); }, {"0"}},
      {[](PanelTest& t) { typeInto(t, kReturnParameterEdits[0], "-5"); }, {"1"}},
      {[](PanelTest& t) { typeInto(t, kReturnParameterEdits[0], "99999999999999999999"); }, {"1"}}}},
    {"ToggleAlternatesBetweenToggleValueAndParameter",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(2, "P");
       test.click(kToggleCheck);
       test.view_.setText(kToggleValueEdit, QStringLiteral("T"));
     },
     {{nothing, {"T"}}, {nothing, {"P"}}, {nothing, {"T"}}}},
    {"RandomNumberInAOnePointRange",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(3, "typed");
       test.chooseFeature(kFeatureRandomNumber);
       test.view_.setText(kRangeFromEdit, QStringLiteral("5"));
       test.view_.setText(kRangeToEdit, QStringLiteral("5"));
     },
     {{nothing, {"5"}}, {nothing, {"5"}}}},
    {"RandomNumberDefaultRange",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(3, "typed");
       test.chooseFeature(kFeatureRandomNumber);
     },
     {{nothing, {},
       [](const Items& items, PanelTest&) { EXPECT_TRUE(isNumberWithin(items[0], 0, 1999999999)) << items[0]; }}}},
    {"RandomNumberWithUpperBoundBelowLowerWidensTheRange",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(3, "typed");
       test.chooseFeature(kFeatureRandomNumber);
       test.view_.setText(kRangeFromEdit, QStringLiteral("10"));
       test.view_.setText(kRangeToEdit, QStringLiteral("3"));
     },
     {{nothing, {},
       [](const Items& items, PanelTest& t) {
         EXPECT_TRUE(isNumberWithin(items[0], 10, 1999999999)) << items[0];
         EXPECT_EQ(static_cast<AnswerBuilding&>(t).view_.text(kRangeToEdit), QStringLiteral("1999999999"));
       }}}},
    {"TimestampIsTheLocalTimeInStandardForm",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(3, "typed");
       test.chooseFeature(kFeatureTimestamp);
     },
     {{nothing, {},
       [](const Items& items, PanelTest&) {
         const QString text = QString::fromStdString(items[0]);
         ASSERT_EQ(text.size(), 25);
         EXPECT_EQ(text.back(), QLatin1Char('\n'));
         const QDateTime sent = QDateTime::fromString(text.simplified(), QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
         ASSERT_TRUE(sent.isValid()) << items[0];
         EXPECT_LE(std::abs(sent.secsTo(QDateTime::currentDateTime())), 60);
       }}}},
    {"RandomStringSendsTheTypedText",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(3, "typed");
       test.chooseFeature(kFeatureRandomString);
     },
     {{nothing, {"typed"}}}},
    {"UncheckingParameterThreeEndsTheSpecialFeature",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(3, "typed");
       test.chooseFeature(kFeatureRandomNumber);
       test.click(kReturnParameterChecks[2]);
       test.click(kReturnParameterChecks[2]);
     },
     {{nothing, {"typed"},
       [](const Items&, PanelTest& t) {
         auto& test = static_cast<AnswerBuilding&>(t);
         EXPECT_EQ(test.view_.text(kSpecialFeatureCombo), QStringLiteral("None"));
         EXPECT_FALSE(test.view_.isShown(kRangeFromEdit));
         EXPECT_TRUE(test.view_.isEnabled(kReturnParameterEdits[2]));
       }}}},
    {"ParameterRulesApplyOnlyToTheirOwnParameters",
     [](PanelTest& t) {
       auto& test = static_cast<AnswerBuilding&>(t);
       test.sendParameter(1, "7");
       test.click(kAutoIncrementCheck);
       test.sendParameter(2, "P");
       test.click(kToggleCheck);
       test.view_.setText(kToggleValueEdit, QStringLiteral("T"));
       test.sendParameter(3, "typed");
       test.chooseFeature(kFeatureRandomNumber);
       test.view_.setText(kRangeFromEdit, QStringLiteral("9"));
       test.view_.setText(kRangeToEdit, QStringLiteral("9"));
       test.sendParameter(4, "7");
     },
     {{nothing, {"8", "T", "9", "7"}}, {nothing, {"9", "P", "9", "7"}}}},
};

TEST_P(AnswerBuilding, CompletionCarriesTheExpectedItems) {
  const AnswerCase& table = GetParam();
  startSimulator();
  connectAndRegister();
  click(kAutomaticCheck);
  table.setUp(*this);
  int ref = 100;
  for (const Answer& answer : table.answers) {
    answer.before(*this);
    send(++ref, kRequestItems);
    const json completion = awaitSim("completion");
    ASSERT_FALSE(completion.is_null()) << "no completion for request " << ref;
    EXPECT_EQ(completion["ref"], ref);
    const Items items = completion["items"].get<Items>();
    if (answer.check) {
      answer.check(items, *this);
    } else {
      EXPECT_EQ(items, padded(answer.expected)) << "answer to request " << ref;
    }
  }
  EXPECT_EQ(panel_.members().responseFailures, 0);
  EXPECT_TRUE(view_.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Rules, AnswerBuilding, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

// Manual answers need no request: before any, the answer carries the server
// request ID the window shows, 0 at start. A refused completion is counted
// and shown at once.
TEST_F(PanelTest, ManualResponseBeforeAnyRequestAndRefusedCompletions) {
  startSimulator();
  connectAndRegister();
  sendParameter(1, QStringLiteral("by hand"));
  panel_.sendAnswer();
  json completion = awaitSim("completion");
  EXPECT_EQ(completion["ref"], 0);
  EXPECT_EQ(completion["items"][0], "by hand");

  view_.setText(kAnswerServerRequestIdEdit, QStringLiteral("4294967295"));
  sim_->command({{"cmd", "fail"}, {"proc", "sendCompletion"}, {"result", 1004}, {"count", 2}});
  panel_.sendAnswer();
  panel_.sendAnswer();
  EXPECT_EQ(panel_.members().responseFailures, 2);
  EXPECT_EQ(view_.text(kResponseFailuresEdit), QStringLiteral("2"));
  panel_.sendAnswer();
  completion = awaitSim("completion");
  EXPECT_EQ(completion["ref"].get<uint32_t>(), 4294967295u);
}

}  // namespace
}  // namespace rigbench::test
