#include "QtFileChooser.h"

#include <QFileDialog>

namespace capture {

std::optional<QString> QtFileChooser::ChooseSaveFile(const QString& filter) {
    QString path;
    m_timers.RunModal([&] { path = QFileDialog::getSaveFileName(m_owner, QString(), QString(), filter); });
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

} // namespace capture
