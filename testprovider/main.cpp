// rigbench: the operator's test provider. Opens the provider window, or with
// --auto runs the same panel without one.
#include <QApplication>
#include <QFileInfo>
#include <memory>

#include "testprovider/application_icon.h"
#include "testprovider/auto_runner.h"
#include "testprovider/command_line.h"
#include "testprovider/provider_dialog.h"
#include "testprovider/signal_watch.h"
#include "testprovider/text_locale.h"

namespace {

// Message boxes carry the program's file name without its extension.
QString programName(const char* argv0) { return QFileInfo(QString::fromLocal8Bit(argv0)).completeBaseName(); }

int runHeadless(const rigbench::AutoOptions& options, const QString& name) {
  rigbench::SignalWatch signalWatch;
  rigbench::AutoRunner runner(options, name, stdout);
  QObject::connect(&signalWatch, &rigbench::SignalWatch::stopRequested, &runner, &rigbench::AutoRunner::stop);
  QObject::connect(&runner, &rigbench::AutoRunner::finished, QCoreApplication::instance(), &QCoreApplication::exit,
                   Qt::QueuedConnection);
  if (!runner.start()) return 1;
  return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  const QString name = programName(argv[0]);
  std::unique_ptr<QCoreApplication> application;
  if (rigbench::needsNoWindow(argc, argv)) {
    application = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    application = std::make_unique<QApplication>(argc, argv);
  }
  QCoreApplication::setApplicationName(name);
  QCoreApplication::setApplicationVersion(QStringLiteral(ZEMLINK_VERSION));
  rigbench::useUtf8CharacterType();
  const rigbench::CommandLine line = rigbench::parseCommandLine(*application);
  if (line.headless) return runHeadless(line.options, name);

  QApplication::setWindowIcon(rigbench::applicationIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("rigbench"));
  rigbench::ProviderDialog dialog(name);
  dialog.show();
  return QApplication::exec();
}
