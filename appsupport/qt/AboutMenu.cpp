#include "AboutMenu.h"

#include "SystemMenu.h"

#include <QMenu>

namespace appsupport {

int RunAboutMenu(QWidget* window, const QString& entry, const QPoint& at, QtWindowTimers& timers) {
    QMenu menu(window);
    // The entry follows a separator as on the system menu; Qt draws no leading one.
    menu.addSeparator();
    menu.addAction(entry)->setData(kAboutCommand);
    QAction* chosen = nullptr;
    timers.RunModal([&] { chosen = menu.exec(at); });
    return chosen ? chosen->data().toInt() : 0;
}

} // namespace appsupport
