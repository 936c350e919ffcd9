#include "ProgramIcon.h"

namespace appsupport {

QIcon ProgramIcon(const QString& program) {
    QIcon icon;
    for (const int side : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/%1/icon-%2.png").arg(program).arg(side), QSize(side, side));
    return icon;
}

} // namespace appsupport
