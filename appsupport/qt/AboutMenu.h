// The about entry of a window's context menu: X11 and Wayland windows have no
// system menu to extend, so the context menu carries the entry and routes its
// identifier as the system menu would.
#pragma once

#include "QtWindowTimers.h"

#include <QPoint>
#include <QString>

class QWidget;

namespace appsupport {

// Shows the menu at a point; the system command chosen, or 0.
int RunAboutMenu(QWidget* window, const QString& entry, const QPoint& at, QtWindowTimers& timers);

} // namespace appsupport
