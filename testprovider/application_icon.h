// The program's icon, built into the program from resources/rigbench.png.
#pragma once

#include <QIcon>

namespace rigbench {

QIcon applicationIcon();

}  // namespace rigbench
