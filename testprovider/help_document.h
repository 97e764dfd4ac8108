// The operator's help: an HTML document shipped with the program and opened
// with the desktop's handler for it.
#pragma once

#include <QString>

namespace rigbench {

inline constexpr const char* kHelpFileName = "ProviderHelp.html";

// Where the document is: beside the program (the build tree), else in the
// installed data directory (../share/rigbench from the program). Empty when
// neither holds it.
QString findHelpDocument();

// Hands the document to the desktop; the program does not wait for the
// viewer. False when there is no document or no handler took it.
bool openHelpDocument(const QString& path);

}  // namespace rigbench
