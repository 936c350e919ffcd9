#include "FileChooser.h"

#include "LoaderTexts.h"

#include <QPixmapCache>

namespace loader {

BinFileChooser::~BinFileChooser() {
    delete m_dialog.data();
}

QFileDialog& BinFileChooser::Dialog(QWidget* owner) {
    if (m_dialog && m_dialog->parentWidget() != owner)
        delete m_dialog.data();
    if (!m_dialog) {
        m_dialog = new QFileDialog(owner, QString::fromUtf8(texts::kFileDialogTitle));
        m_dialog->setFileMode(QFileDialog::ExistingFile);
        m_dialog->setAcceptMode(QFileDialog::AcceptOpen);
        // Qt's own dialog matches name filters without regard to case, so the one
        // "*.BIN" entry also offers images named in lower case.
        m_dialog->setNameFilter(QStringLiteral("BIN Files (*.BIN)"));
    }
    return *m_dialog;
}

std::optional<std::string> BinFileChooser::Choose(QWidget* owner) {
    QFileDialog& dialog = Dialog(owner);
    // Opens where the last selection was made, with the name field reset.
    dialog.selectFile(QStringLiteral("*.BIN"));
    const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    // The file list's header makes a new picture each time it is painted, and
    // Qt's pixmap cache would keep every one of them up to its 10 MiB limit.
    QPixmapCache::clear();
    if (!accepted)
        return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}

} // namespace loader
