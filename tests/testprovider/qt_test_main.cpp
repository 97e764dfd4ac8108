// main() of the Rigbench test programs: GoogleTest inside a Qt application,
// so timers and the event loop work. The window tests build with
// RIGBENCH_WIDGETS and run on the offscreen platform unless told otherwise.
#include <gtest/gtest.h>

#include "testprovider/text_locale.h"

#ifdef RIGBENCH_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
#ifdef RIGBENCH_WIDGETS
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  TestApplication application(argc, argv);
  TestApplication::setApplicationName(QStringLiteral("rigbench"));
  rigbench::useUtf8CharacterType();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
