#include "testprovider/application_icon.h"

// The resource lives in a static library: it is registered on first use.
static void registerIconResource() { Q_INIT_RESOURCE(rigbench); }

namespace rigbench {

QIcon applicationIcon() {
  static const bool registered = (registerIconResource(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/rigbench/rigbench.png"));
}

}  // namespace rigbench
