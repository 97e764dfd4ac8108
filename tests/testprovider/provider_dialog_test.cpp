// The real window on the offscreen platform, driven with QTest: the form's
// controls against the control table, an operator's session against
// exchange-sim, and the About box, Help and the ways to end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <functional>

#include "support/exchange_simulator.h"
#include "support/temp_root.h"
#include "testprovider/about_dialog.h"
#include "testprovider/control_ids.h"
#include "testprovider/dialog_units.h"
#include "testprovider/provider_dialog.h"
#include "testprovider/qstring_printer.h"
#include "ui_provider_dialog.h"

namespace rigbench::test {
namespace {

using nlohmann::json;

// One control of the window as the control table gives it. A size of -1 is
// not given by the table (or was widened, for a label or check box whose
// text needs more room than the table's width; its position holds).
struct ControlRow {
  const char* name;
  const char* kind;
  const char* caption;  // caption, or initial text of an edit
  bool enabled;
  bool shown;
  int x, y, width, height;
};

const ControlRow kControls[] = {
    {"labelServerAddress", "QLabel", "Server Site IP Address:", true, true, 11, 13, -1, 8},
    {"edit1021", "QLineEdit", "", true, true, 99, 10, 86, 14},
    {"button1023", "QPushButton", "Connect to Server", true, true, 192, 10, 66, 14},
    {"label1003", "QLabel", "Enter Register ID:", true, true, 11, 34, 61, 8},
    {"edit1004", "QLineEdit", "0", true, true, 74, 31, 39, 14},
    {"button1005", "QPushButton", "register", false, true, 117, 31, 50, 14},
    {"label1008", "QLabel", "Failed To Register", true, false, 74, 50, 84, 8},
    {"groupRequestData", "QGroupBox", "Request Data", true, true, 10, 55, 247, 205},
    {"check1069", "QCheckBox", "Don't Show Received Data", true, true, 152, 63, 102, 8},
    {"label1045", "QLabel", "1st", true, true, 19, 81, -1, -1},
    {"label1054", "QLabel", "10th", true, true, 17, 242, -1, -1},
    {"edit1001", "QLineEdit", "", true, true, 35, 77, 132, -1},
    {"edit1009", "QLineEdit", "", true, true, 35, 95, 132, -1},
    {"edit1010", "QLineEdit", "", true, true, 35, 113, 132, -1},
    {"edit1002", "QLineEdit", "", true, true, 35, 130, 132, -1},
    {"edit1039", "QLineEdit", "", true, true, 35, 149, 132, -1},
    {"edit1044", "QLineEdit", "", true, true, 35, 239, 132, -1},
    {"labelReceivedServerRequestId", "QLabel", "Server Request ID:", true, true, 185, 82, -1, 8},
    {"edit1017", "QLineEdit", "0", true, true, 188, 95, 40, 14},
    {"labelCallID", "QLabel", "Call ID:", true, true, 188, 119, -1, -1},
    {"labelHeldCallID", "QLabel", "Held Call ID:", true, true, 188, 156, -1, -1},
    {"labelNetworkCallID", "QLabel", "Network Call ID:", true, true, 188, 193, -1, -1},
    {"labelNodeID", "QLabel", "Node ID:", true, true, 188, 226, -1, -1},
    {"edit1071", "QLineEdit", "0", true, true, 188, 132, -1, -1},
    {"edit1072", "QLineEdit", "0", true, true, 188, 169, -1, -1},
    {"edit1073", "QLineEdit", "0", true, true, 188, 206, -1, -1},
    {"edit1074", "QLineEdit", "0", true, true, 188, 242, -1, -1},
    {"labelInfosReceived", "QLabel", "SEND INFOs received", true, true, 28, 271, -1, -1},
    {"edit1087", "QLineEdit", "0", true, true, 108, 271, 58, 12},
    {"button1089", "QPushButton", "Refresh", true, true, 173, 271, -1, -1},
    {"button1093", "QPushButton", "Reset", true, true, 217, 271, -1, -1},
    {"labelRequestsReceived", "QLabel", "SEND REQUESTs received", true, true, 10, 292, -1, -1},
    {"edit1088", "QLineEdit", "0", true, true, 108, 292, 58, 12},
    {"button1090", "QPushButton", "Refresh", true, true, 173, 292, -1, -1},
    {"button1094", "QPushButton", "Reset", true, true, 217, 292, -1, -1},
    {"labelResponseFailures", "QLabel", "SEND RESPONSE failures", true, true, 13, 313, -1, -1},
    {"edit1092", "QLineEdit", "0", true, true, 108, 313, 58, 12},
    {"check1096", "QCheckBox", "Auto Reconnect", true, true, 25, 335, 69, 12},
    {"check1097", "QCheckBox", "Log to file", true, true, 125, 335, 50, 10},
    {"groupCompletionData", "QGroupBox", "Completion data", true, true, 270, 5, 247, 338},
    {"check1095", "QCheckBox", "Echo Data Received", true, true, 285, 15, 86, 9},
    {"check1070", "QCheckBox", "Use the Last Set of Return Values", true, true, 385, 15, 125, 8},
    {"edit1006", "QLineEdit", "", false, true, 288, 34, 132, 15},
    {"check1011", "QCheckBox", "Return Parameter 1", true, true, 428, 34, -1, -1},
    {"check1075", "QCheckBox", "Auto Increment", false, true, 428, 48, 78, 15},
    {"edit1012", "QLineEdit", "", false, true, 287, 68, 132, 15},
    {"check1014", "QCheckBox", "Return Parameter 2", true, true, 428, 68, -1, -1},
    {"edit1019", "QLineEdit", "", false, true, 287, 87, 132, 15},
    {"check1077", "QCheckBox", "Toggle with value:", false, true, 427, 87, -1, -1},
    {"edit1013", "QLineEdit", "", false, true, 288, 116, 132, 15},
    {"check1015", "QCheckBox", "Return Parameter 3", true, true, 427, 116, -1, -1},
    {"groupParameter1", "QGroupBox", "", true, true, 278, 26, 236, 38},
    {"groupParameter2", "QGroupBox", "", true, true, 277, 61, 236, 45},
    {"groupParameter3", "QGroupBox", "", true, true, 277, 107, 235, 69},
    {"labelSpecialFeature", "QLabel", "Special Feature", true, true, 363, 138, -1, -1},
    {"combo1081", "QComboBox", "None", false, true, 422, 135, 83, -1},
    {"label1085", "QLabel", "Range: from", true, false, 303, 155, -1, -1},
    {"edit1083", "QLineEdit", "0", true, false, 349, 153, 51, 12},
    {"label1086", "QLabel", "To:", true, false, 405, 155, -1, -1},
    {"edit1084", "QLineEdit", "0", true, false, 421, 153, 74, 12},
    {"edit1055", "QLineEdit", "", true, true, 288, 191, 132, -1},
    {"check1056", "QCheckBox", "Return Parameter 4", true, true, 428, 191, -1, -1},
    {"edit1057", "QLineEdit", "", true, true, 288, 209, 132, -1},
    {"check1058", "QCheckBox", "Return Parameter 5", true, true, 428, 209, -1, -1},
    {"edit1059", "QLineEdit", "", true, true, 288, 227, 132, -1},
    {"check1060", "QCheckBox", "Return Parameter 6", true, true, 428, 227, -1, -1},
    {"edit1061", "QLineEdit", "", true, true, 288, 245, 132, -1},
    {"check1062", "QCheckBox", "Return Parameter 7", true, true, 428, 245, -1, -1},
    {"edit1063", "QLineEdit", "", true, true, 288, 263, 132, -1},
    {"check1064", "QCheckBox", "Return Parameter 8", true, true, 428, 263, -1, -1},
    {"edit1065", "QLineEdit", "", true, true, 288, 281, 132, -1},
    {"check1066", "QCheckBox", "Return Parameter 9", true, true, 428, 281, -1, -1},
    {"edit1067", "QLineEdit", "", true, true, 288, 299, 132, -1},
    {"check1068", "QCheckBox", "Return Parameter 10", true, true, 428, 299, -1, -1},
    {"labelAnswerServerRequestId", "QLabel", "Server Request ID:", true, true, 290, 327, -1, -1},
    {"edit1018", "QLineEdit", "0", true, true, 352, 325, 40, 14},
    {"check1016", "QCheckBox", "Automatic Response", true, true, 414, 325, 79, 13},
    {"button1007", "QPushButton", "Manual Response", true, true, 285, 350, 72, 15},
    {"buttonCancel", "QPushButton", "Cancel", true, true, 375, 350, 50, 15},
    {"button1098", "QPushButton", "Help", true, true, 445, 350, 50, 15},
};

QString captionOf(QWidget* widget) {
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  if (auto* list = qobject_cast<QComboBox*>(widget)) return list->currentText();
  return QStringLiteral("?");
}

class ProviderDialogTest : public ::testing::Test {
 protected:
  ProviderDialogTest() {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_.path());
  }
  ~ProviderDialogTest() override { std::filesystem::current_path(previous_); }

  void startSimulator() {
    sim_ = std::make_unique<zem::test::ExchangeSimulator>();
    std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << sim_->port() << "\n";
  }
  json awaitSim(const std::string& name) {
    json event;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !(event = sim_->next(name, 20)).is_null(); }, 5000)) << name;
    return event;
  }

  template <typename Widget = QWidget>
  Widget* find(const char* name) {
    auto* widget = dialog_.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
  void type(const char* name, const QString& text) {
    auto* edit = find<QLineEdit>(name);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }

  // Runs `action`, which opens a modal window; `inspect` sees that window
  // and closes it.
  template <typename Window>
  static void whileModal(const std::function<void()>& action, const std::function<void(Window*)>& inspect) {
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget())) {
        poll.stop();
        seen = true;
        inspect(window);
      }
    });
    poll.start();
    action();
    EXPECT_TRUE(seen);
  }

  zem::test::TempRoot root_;
  std::filesystem::path previous_;
  std::unique_ptr<zem::test::ExchangeSimulator> sim_;
  ProviderDialog dialog_{QStringLiteral("rigbench")};
};

TEST_F(ProviderDialogTest, EveryControlOfTheTableIsThereWithItsIdCaptionStateAndPlace) {
  // The units the form is laid out in, from a fresh copy of the form.
  QDialog fresh;
  Ui::ProviderDialog form;
  form.setupUi(&fresh);
  const DialogUnits units = DialogUnits::forForm(fresh);
  dialog_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));

  EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("Some Provider"));
  EXPECT_EQ(dialog_.size(), units.toPixels(QRect(0, 0, 525, 370)).size());
  for (const ControlRow& row : kControls) {
    QWidget* widget = find(row.name);
    if (widget == nullptr) continue;
    EXPECT_STREQ(widget->metaObject()->className(), row.kind) << row.name;
    EXPECT_EQ(captionOf(widget), QString::fromUtf8(row.caption)) << row.name;
    EXPECT_EQ(widget->isEnabled(), row.enabled) << row.name;
    EXPECT_EQ(widget->isVisible(), row.shown) << row.name;
    const QRect expected = units.toPixels(QRect(row.x, row.y, std::max(row.width, 0), std::max(row.height, 0)));
    EXPECT_EQ(widget->pos(), expected.topLeft()) << row.name;
    if (row.width >= 0) {
      EXPECT_EQ(widget->width(), expected.width()) << row.name;
    }
    if (row.height >= 0) {
      EXPECT_EQ(widget->height(), expected.height()) << row.name;
    }
  }
  // The read-only displays, the limits, the default button and the list.
  for (const char* name : {"edit1001", "edit1044", "edit1017", "edit1071", "edit1074", "edit1087", "edit1088", "edit1092"}) {
    EXPECT_TRUE(find<QLineEdit>(name)->isReadOnly()) << name;
  }
  EXPECT_FALSE(find<QLineEdit>("edit1018")->isReadOnly());
  for (const char* name : {"edit1006", "edit1012", "edit1013", "edit1055", "edit1067"}) {
    EXPECT_EQ(find<QLineEdit>(name)->maxLength(), 80) << name;
  }
  EXPECT_EQ(find<QLineEdit>("edit1004")->maxLength(), 10);
  EXPECT_TRUE(find<QPushButton>("button1007")->isDefault());
  QStringList entries;
  for (int i = 0; i < find<QComboBox>("combo1081")->count(); ++i) entries << find<QComboBox>("combo1081")->itemText(i);
  EXPECT_EQ(entries, (QStringList{"None", "Random Number", "Random String", "Timestamp"}));

  // Tab goes through the focusable controls in the table's order (the
  // table names most of them; the others may come between).
  const auto focusable = [&](QWidget* widget) {
    return widget->isEnabled() && widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus) &&
           widget->window() == &dialog_;
  };
  QStringList order;
  for (const ControlRow& row : kControls) {
    if (QWidget* widget = find(row.name); widget != nullptr && focusable(widget)) order << QString::fromLatin1(row.name);
  }
  QStringList walked;
  QWidget* first = find("edit1021");
  QWidget* at = first;
  do {
    if (order.contains(at->objectName())) walked << at->objectName();
    do {
      at = at->nextInFocusChain();
    } while (!focusable(at));
  } while (at != first && walked.size() <= order.size());
  EXPECT_EQ(walked, order);
}

TEST_F(ProviderDialogTest, AnOperatorConnectsRegistersSeesARequestAnswersItAndLeaves) {
  startSimulator();
  dialog_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));

  // An address the library cannot bind to: a message box says so.
  type("edit1021", QStringLiteral("bad[address"));
  whileModal<QMessageBox>([&] { click("button1023"); }, [](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), QStringLiteral("rigbench"));
    EXPECT_EQ(box->text(), QStringLiteral("Unable to connect"));
    box->accept();
  });
  type("edit1021", QStringLiteral("127.0.0.1"));
  click("button1023");
  ASSERT_TRUE(find("button1005")->isEnabled());
  EXPECT_EQ(captionOf(find("button1005")), QStringLiteral("Register"));

  type("edit1004", QStringLiteral("7x7"));  // digits only
  EXPECT_EQ(find<QLineEdit>("edit1004")->text(), QStringLiteral("77"));
  click("button1005");
  ASSERT_TRUE(QTest::qWaitFor([&] { return captionOf(find("button1005")) == QLatin1String("UnRegister"); }));
  EXPECT_EQ(awaitSim("registered")["providerId"], 77);

  const std::vector<std::string> items = {"i1", "i2", "i3", "i4", "i5", "i6", "i7", "i8", "i9", "i10"};
  sim_->command({{"cmd", "send"}, {"type", "request"}, {"ref", 4242}, {"items", items}, {"callId", 1},
                 {"heldCallId", 2}, {"networkCallId", 3}, {"nodeId", 4}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return find<QLineEdit>("edit1001")->text() == QLatin1String("i1"); }));
  const char* received[] = {"edit1001", "edit1009", "edit1010", "edit1002", "edit1039",
                            "edit1040", "edit1041", "edit1042", "edit1043", "edit1044"};
  for (int k = 0; k < 10; ++k) EXPECT_EQ(find<QLineEdit>(received[k])->text(), QString::fromStdString(items[k]));
  EXPECT_EQ(find<QLineEdit>("edit1071")->text(), QStringLiteral("1"));
  EXPECT_EQ(find<QLineEdit>("edit1072")->text(), QStringLiteral("2"));
  EXPECT_EQ(find<QLineEdit>("edit1073")->text(), QStringLiteral("3"));
  EXPECT_EQ(find<QLineEdit>("edit1074")->text(), QStringLiteral("4"));
  EXPECT_EQ(find<QLineEdit>("edit1017")->text(), QStringLiteral("4242"));
  EXPECT_EQ(find<QLineEdit>("edit1018")->text(), QStringLiteral("4242"));

  // Ten return parameters, typed after checking their boxes; Enter in the
  // last field sends the answer through the default button.
  const char* checks[] = {"check1011", "check1014", "check1015", "check1056", "check1058",
                          "check1060", "check1062", "check1064", "check1066", "check1068"};
  const char* edits[] = {"edit1006", "edit1012", "edit1013", "edit1055", "edit1057",
                         "edit1059", "edit1061", "edit1063", "edit1065", "edit1067"};
  std::vector<std::string> answer;
  for (int k = 0; k < 10; ++k) {
    click(checks[k]);
    ASSERT_TRUE(find(edits[k])->isEnabled()) << edits[k];
    answer.push_back("answer " + std::to_string(k + 1));
    type(edits[k], QString::fromStdString(answer.back()));
  }
  QTest::keyClick(find("edit1067"), Qt::Key_Return);
  const json completion = awaitSim("completion");
  EXPECT_EQ(completion["ref"], 4242);
  EXPECT_EQ(completion["items"], json(answer));

  click("button1005");
  ASSERT_TRUE(QTest::qWaitFor([&] { return captionOf(find("button1005")) == QLatin1String("Register"); }));
  EXPECT_FALSE(awaitSim("deregistered").is_null());

  click("buttonCancel");
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), QDialog::Rejected);
  // The library has ended its work: it hands out nothing any more.
  ZemContainerHandle event = 0;
  EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &event), ZEM_ERROR_NOT_READY);
}

TEST_F(ProviderDialogTest, EscapeAndTheCloseBoxEndTheProgramAsCancelDoes) {
  startSimulator();
  for (const char* way : {"escape", "close box"}) {
    dialog_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
    type("edit1021", QStringLiteral("127.0.0.1"));
    click("button1023");
    ASSERT_TRUE(find("button1005")->isEnabled());
    if (QLatin1String(way) == QLatin1String("escape")) {
      QTest::keyClick(find("edit1021"), Qt::Key_Escape);
    } else {
      dialog_.close();
    }
    EXPECT_FALSE(dialog_.isVisible()) << way;
    ZemContainerHandle event = 0;
    EXPECT_EQ(Zem_GetEvent(ZEM_EVENT_POLL, &event), ZEM_ERROR_NOT_READY) << way;
  }
}

TEST_F(ProviderDialogTest, TheWindowMenuOpensAboutProvider) {
  dialog_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
  QAction* about = nullptr;
  for (QAction* action : dialog_.windowMenu()->actions()) {
    if (action->text() == QLatin1String("&About Provider...")) about = action;
  }
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(dialog_.windowMenu()->actions().first()->isSeparator());
  whileModal<AboutDialog>([&] { about->trigger(); }, [](AboutDialog* box) {
    EXPECT_EQ(box->windowTitle(), QStringLiteral("About Provider"));
    EXPECT_EQ(box->findChild<QLabel*>(QStringLiteral("labelVersion"))->text(), QStringLiteral("Provider Version 1.1"));
    EXPECT_FALSE(box->findChild<QLabel*>(QStringLiteral("labelIcon"))->pixmap().isNull());
    QTest::mouseClick(box->findChild<QPushButton*>(QStringLiteral("buttonOk")), Qt::LeftButton);
  });
}

// Catches the URLs the program hands to the desktop.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

TEST_F(ProviderDialogTest, HelpHandsTheInstalledDocumentToTheDesktop) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
  dialog_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
  click("button1098");
  click("button1098");
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.urls.size(), 2u);
  const QString path = catcher.urls[0].toLocalFile();
  EXPECT_TRUE(path.endsWith(QLatin1String("/ProviderHelp.html"))) << path.toStdString();
  std::ifstream document(path.toStdString());
  std::string text((std::istreambuf_iterator<char>(document)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Auto Reconnect"), std::string::npos);
}

TEST(ProviderDialogFont, ALargerDesktopFontGivesALargerWindowWhoseCaptionsStillFit) {
  const QSize normal = ProviderDialog(QStringLiteral("rigbench")).size();
  const QFont previous = QApplication::font();
  QFont large = previous;
  large.setPointSizeF(previous.pointSizeF() * 1.6);
  QApplication::setFont(large);
  ProviderDialog dialog(QStringLiteral("rigbench"));
  QApplication::setFont(previous);

  EXPECT_GT(dialog.width(), normal.width());
  EXPECT_GT(dialog.height(), normal.height());
  for (QWidget* child : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (auto* label = qobject_cast<QLabel*>(child)) {
      EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
      EXPECT_LE(label->fontMetrics().height(), label->height() + 2) << label->text().toStdString();
    } else if (auto* box = qobject_cast<QCheckBox*>(child)) {
      EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
    } else if (auto* button = qobject_cast<QPushButton*>(child)) {
      EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width()) << button->text().toStdString();
    }
  }
}

// The application's font, scaled while the object lives.
class ScaledFont {
 public:
  explicit ScaledFont(double scale) : previous_(QApplication::font()) {
    QFont font = previous_;
    font.setPointSizeF(previous_.pointSizeF() * scale);
    QApplication::setFont(font);
  }
  ~ScaledFont() { QApplication::setFont(previous_); }

 private:
  const QFont previous_;
};

constexpr double kFontScales[] = {1.0, 1.6};

// Where an edit's text cursor stands, in the edit.
int cursorX(const QLineEdit& edit) { return edit.inputMethodQuery(Qt::ImCursorRectangle).toRect().x(); }

// What a line edit shows of its text: whether its first character is in
// view, and whether the whole text is (the edit need not scroll even with
// the cursor at the end). An edit scrolls only when it paints, so each look
// paints it first; the cursor is put back where it was.
struct InView {
  bool start = false;
  bool whole = false;
};
InView inView(QLineEdit& edit) {
  const QString text = edit.text();
  const int position = edit.cursorPosition();
  edit.setText(QString());
  edit.grab();
  const int unscrolled = cursorX(edit);
  InView view;
  edit.setText(text);
  edit.setCursorPosition(position);
  edit.grab();
  edit.home(false);
  view.start = cursorX(edit) == unscrolled;
  edit.end(false);
  edit.grab();
  edit.home(false);
  view.whole = cursorX(edit) == unscrolled;
  edit.setCursorPosition(position);
  edit.grab();
  return view;
}

// The numeric edits and the numbers they must show whole: the unsigned
// server request ids and counters, and the signed call ids.
struct NumberEdit {
  int id;
  bool isSigned;
};
const NumberEdit kNumberEdits[] = {{1004, false}, {1017, false}, {1018, false}, {1071, true}, {1072, true},
                                   {1073, true},  {1074, true},  {1087, false}, {1088, false}, {1092, false},
                                   {1083, false}, {1084, false}};

TEST(ProviderDialogText, NumbersShowWholeAndFilledTextsFromTheirStartAtTwoFontSizes) {
  const QString longText = QStringLiteral("start of a text longer than its edit").leftJustified(80, QLatin1Char('.'));
  for (const double scale : kFontScales) {
    SCOPED_TRACE(scale);
    const ScaledFont font(scale);
    ProviderDialog dialog(QStringLiteral("rigbench"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    WidgetControls& controls = dialog.controls();
    for (const NumberEdit& number : kNumberEdits) {
      controls.setShown(number.id, true);
      auto* edit = qobject_cast<QLineEdit*>(controls.control(number.id));
      ASSERT_NE(edit, nullptr) << number.id;
      QStringList values = {QStringLiteral("1"), QStringLiteral("1999999999"), QStringLiteral("4294967295")};
      if (number.isSigned) values << QStringLiteral("-2147483648");
      for (const QString& value : values) {
        controls.setText(number.id, value);
        const InView view = inView(*edit);
        EXPECT_TRUE(view.start) << number.id << " " << value.toStdString();
        EXPECT_TRUE(view.whole) << number.id << " " << value.toStdString();
      }
    }
    // What the program writes into a text edit is shown from its start.
    for (const auto& ids : {kReceivedParameterEdits, kReturnParameterEdits}) {
      for (int id : ids) {
        controls.setText(id, longText);
        auto* edit = qobject_cast<QLineEdit*>(controls.control(id));
        ASSERT_NE(edit, nullptr) << id;
        EXPECT_FALSE(inView(*edit).whole) << id << ": the text is meant to be longer than the edit";
        EXPECT_TRUE(inView(*edit).start) << id;
      }
    }
  }
}

// The row of a group box's top frame line, in the box: the first row whose
// right half (the title, if any, sits at the left) is drawn across in
// neither the window's colour nor the box's inside.
int frameLineRow(QGroupBox& box) {
  const QImage image = box.grab().toImage();
  const QRgb window = box.palette().color(QPalette::Window).rgb();
  const QRgb inside = image.pixel(image.width() / 2, image.height() / 2);
  const int from = image.width() / 2;
  const int to = image.width() - 8;
  for (int y = 0; y < image.height() / 2; ++y) {
    int drawn = 0;
    for (int x = from; x < to; ++x) {
      const QRgb pixel = image.pixel(x, y) | 0xff000000u;
      drawn += pixel != (window | 0xff000000u) && pixel != (inside | 0xff000000u) ? 1 : 0;
    }
    if (drawn * 10 >= (to - from) * 9) return y;
  }
  return -1;
}

// The rows a control draws on: a check box its box and caption, a label its
// line of text (centred), anything else its whole height.
std::pair<int, int> drawnRows(QWidget& control) {
  if (auto* check = qobject_cast<QCheckBox*>(&control)) {
    QStyleOptionButton option;
    option.initFrom(check);
    option.text = check->text();
    option.iconSize = check->iconSize();
    const QRect drawn = check->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, check);
    return {check->y() + drawn.top(), check->y() + drawn.bottom()};
  }
  if (auto* label = qobject_cast<QLabel*>(&control)) {
    const int height = label->fontMetrics().height();
    const int top = label->y() + (label->height() - height) / 2;
    return {top, top + height - 1};
  }
  return {control.y(), control.y() + control.height() - 1};
}

TEST(ProviderDialogText, NoControlRunsIntoTheLineOfAFrameAtTwoFontSizes) {
  for (const double scale : kFontScales) {
    SCOPED_TRACE(scale);
    const ScaledFont font(scale);
    ProviderDialog dialog(QStringLiteral("rigbench"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QList<QWidget*> children = dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
      auto* box = qobject_cast<QGroupBox*>(child);
      if (box == nullptr) continue;
      const int row = frameLineRow(*box);
      ASSERT_GE(row, 0) << box->objectName().toStdString();
      const int line = box->y() + row;
      for (QWidget* control : children) {
        if (control == box || qobject_cast<QGroupBox*>(control) != nullptr || control->isHidden()) continue;
        if (control->x() > box->geometry().right() || control->geometry().right() < box->x()) continue;
        const auto [top, bottom] = drawnRows(*control);
        EXPECT_FALSE(top <= line && line <= bottom)
            << control->objectName().toStdString() << " (rows " << top << " to " << bottom << ") meets the line of "
            << box->objectName().toStdString() << " at row " << line;
      }
    }
  }
}

}  // namespace
}  // namespace rigbench::test

#include "provider_dialog_test.moc"
