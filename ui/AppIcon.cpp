#include "ui/AppIcon.h"

namespace velmora::ui {

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        icon.addFile(QStringLiteral(":/velmora/icons/velmora-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace velmora::ui
