#include "FileChooser.h"

#include "LoaderTexts.h"

#include <QFileDialog>

std::optional<std::string> BinFileChooser::Choose(QWidget* owner) {
    QFileDialog dialog(owner, QString::fromUtf8(texts::kFileDialogTitle));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Linux file names are case-sensitive, and a technician's images are often
    // named in lower case: the one "*.BIN" entry matches both spellings.
    dialog.setNameFilter(QStringLiteral("BIN Files (*.BIN *.bin)"));
    dialog.selectFile(QStringLiteral("*.BIN"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}
