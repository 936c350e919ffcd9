#include "FileChooser.h"

#include "LoaderTexts.h"

#include <QFileDialog>

namespace loader {

std::optional<std::string> BinFileChooser::Choose(QWidget* owner) {
    QFileDialog dialog(owner, QString::fromUtf8(texts::kFileDialogTitle));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own dialog matches name filters without regard to case, so the one
    // "*.BIN" entry also offers images named in lower case.
    dialog.setNameFilter(QStringLiteral("BIN Files (*.BIN)"));
    dialog.selectFile(QStringLiteral("*.BIN"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}

} // namespace loader
