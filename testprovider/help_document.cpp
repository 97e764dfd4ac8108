#include "testprovider/help_document.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace rigbench {

QString findHelpDocument() {
  const QDir programDir(QCoreApplication::applicationDirPath());
  for (const QString& candidate : {programDir.filePath(QString::fromLatin1(kHelpFileName)),
                                   programDir.filePath(QStringLiteral(RIGBENCH_HELP_FROM_BINDIR "/") +
                                                       QString::fromLatin1(kHelpFileName))}) {
    if (QFileInfo(candidate).isFile()) return QFileInfo(candidate).canonicalFilePath();
  }
  return QString();
}

bool openHelpDocument(const QString& path) {
  return !path.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace rigbench
