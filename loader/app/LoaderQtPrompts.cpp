#include "LoaderQtPrompts.h"

#include "FinishDialog.h"
#include "LoaderTexts.h"

namespace loader {

LoaderQtPrompts::LoaderQtPrompts(QDialog& window, const QIcon& icon, appsupport::QtWindowTimers& timers,
                                 FileChooser& chooser)
    : m_window(window), m_icon(icon), m_timers(timers),
      m_messages(&window, QString::fromUtf8(texts::kProgramName), QMessageBox::NoIcon, timers),
      m_chooser(chooser) {}

LoaderPrompts::FinishChoice LoaderQtPrompts::RunFinishDialog() {
    FinishDialog dialog(m_icon, &m_window);
    int result = QDialog::Rejected;
    m_timers.RunModal([&] { result = dialog.exec(); });
    return result == QDialog::Accepted ? FinishChoice::Finish : FinishChoice::Continue;
}

std::optional<std::string> LoaderQtPrompts::ChooseFile() {
    if (m_choosing)
        return std::nullopt;
    m_choosing = true;
    std::optional<std::string> chosen;
    m_timers.RunModal([&] { chosen = m_chooser.Choose(&m_window); });
    m_choosing = false;
    return chosen;
}

void LoaderQtPrompts::EndDialog(DialogEnd end) {
    m_window.done(end == DialogEnd::Ok ? QDialog::Accepted : QDialog::Rejected);
}

} // namespace loader
