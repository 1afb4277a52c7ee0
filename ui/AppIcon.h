#pragma once
// The program's icon, drawn for the program and carried in its resources.

#include <QIcon>

namespace velmora::ui {

QIcon appIcon();

}  // namespace velmora::ui
