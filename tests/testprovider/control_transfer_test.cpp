// Reading the window into the members: numeric fields are validated in a
// fixed order, and the first refused one stops the transfer.
#include <gtest/gtest.h>

#include "testprovider/answer_rules.h"
#include "testprovider/control_table.h"
#include "testprovider/control_transfer.h"
#include "testprovider/qstring_printer.h"

namespace rigbench::test {
namespace {

struct FieldCase {
  int field;
  const char* text;
  bool accepted;
};

// Every control the transfer parses, filled with a valid number.
void fillValid(ControlTable& view) {
  for (int id : {kRegistrationIdEdit, kAnswerServerRequestIdEdit, kReceivedServerRequestIdEdit, kNetworkCallIdEdit,
                 kHeldCallIdEdit, kCallIdEdit, kNodeIdEdit, kRangeFromEdit, kRangeToEdit, kInfosShownEdit,
                 kRequestsShownEdit, kResponseFailuresEdit}) {
    view.setText(id, QStringLiteral("1"));
  }
}

TEST(ControlTransfer, NumericFieldsAreValidatedWithTheirOwnBounds) {
  const FieldCase cases[] = {
      {kRegistrationIdEdit, "2147483647", true},   {kRegistrationIdEdit, "2147483648", false},
      {kRegistrationIdEdit, " -7 ", true},         {kRegistrationIdEdit, "", false},
      {kRegistrationIdEdit, "12abc", false},       {kAnswerServerRequestIdEdit, "4294967295", true},
      {kAnswerServerRequestIdEdit, "4294967296", false}, {kAnswerServerRequestIdEdit, "-1", false},
      {kReceivedServerRequestIdEdit, "x", false},  {kHeldCallIdEdit, "-2147483648", true},
      {kNodeIdEdit, "99999999999999999999", false}, {kRangeFromEdit, "0", true},
      {kRangeFromEdit, "-1", false},               {kRangeToEdit, "1999999999", true},
      {kRangeToEdit, "2000000000", false},         {kResponseFailuresEdit, "+3", true},
  };
  for (const FieldCase& c : cases) {
    ControlTable view;
    fillValid(view);
    view.setText(c.field, QString::fromLatin1(c.text));
    PanelMembers members;
    EXPECT_EQ(ControlTransfer(view, QStringLiteral("rigbench")).read(members), c.accepted) << c.field << " " << c.text;
    if (c.accepted) {
      EXPECT_TRUE(view.messages().empty());
    } else {
      ASSERT_EQ(view.messages().size(), 1u) << c.field << " " << c.text;
      EXPECT_EQ(view.messages()[0].control, c.field);
      EXPECT_EQ(view.messages()[0].caption, QStringLiteral("rigbench"));
    }
  }
}

TEST(ControlTransfer, ARefusedFieldLeavesTheMembersAfterItUntouched) {
  ControlTable view;
  fillValid(view);
  view.setText(kReturnParameterEdits[0], QStringLiteral("read before"));
  view.setChecked(kAutomaticCheck, true);
  view.setText(kServerAddressEdit, QStringLiteral("10.0.0.5"));
  view.setText(kRangeFromEdit, QStringLiteral("-1"));
  view.setText(kRangeToEdit, QStringLiteral("77"));
  view.setChecked(kEchoCheck, true);

  PanelMembers members;
  EXPECT_FALSE(ControlTransfer(view, QStringLiteral("rigbench")).read(members));
  EXPECT_EQ(view.messages().at(0).text, QStringLiteral("Enter a whole number from 0 to 1999999999."));
  EXPECT_EQ(members.returnParameters[0], QStringLiteral("read before"));
  EXPECT_TRUE(members.automatic);
  EXPECT_EQ(members.serverAddress, QStringLiteral("10.0.0.5"));
  EXPECT_EQ(members.rangeTo, 0);
  EXPECT_FALSE(members.echo);
}

TEST(ControlTransfer, RefreshThenReadGivesTheSameMembers) {
  PanelMembers members;
  members.registrationId = 42;
  members.returnParameters[9] = QStringLiteral("ten");
  members.sendParameters[9] = true;
  members.answerServerRequestId = 4000000000u;
  members.heldCallId = -5;
  members.rangeTo = 1999999999;
  members.responseFailures = 3;
  members.logToFile = true;
  ControlTable view;
  ControlTransfer transfer(view, QStringLiteral("rigbench"));
  transfer.refresh(members);
  PanelMembers read;
  ASSERT_TRUE(transfer.read(read));
  EXPECT_EQ(read.registrationId, 42);
  EXPECT_EQ(read.returnParameters[9], QStringLiteral("ten"));
  EXPECT_TRUE(read.sendParameters[9]);
  EXPECT_EQ(read.answerServerRequestId, 4000000000u);
  EXPECT_EQ(read.heldCallId, -5);
  EXPECT_EQ(read.rangeTo, 1999999999);
  EXPECT_EQ(read.responseFailures, 3);
  EXPECT_TRUE(read.logToFile);
}

// Single precision rounds the widest range's top past its bound; the value
// is held there. The simulator tests cannot pick the draw, so this one does.
TEST(AnswerRules, RandomValuesStayInsideTheirRange) {
  EXPECT_EQ(randomInRange(0, 1999999999, RandomDraw::kMax), 1999999999);
  EXPECT_EQ(randomInRange(0, 1999999999, 0), 0);
  EXPECT_EQ(randomInRange(1999999990, 1999999999, RandomDraw::kMax), 1999999999);
  EXPECT_EQ(randomInRange(100, 200, RandomDraw::kMax / 2 + 1), 150);
  EXPECT_EQ(randomInRange(7, 7, 12345), 7);
}

}  // namespace
}  // namespace rigbench::test
