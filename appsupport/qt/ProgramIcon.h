// A program's window icon, in every size its resources hold (compiled into
// the program's window target under the prefix /<program>).
#pragma once

#include <QIcon>
#include <QString>

namespace appsupport {

QIcon ProgramIcon(const QString& program);

} // namespace appsupport
