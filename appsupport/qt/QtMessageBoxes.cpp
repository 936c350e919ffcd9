#include "QtMessageBoxes.h"

namespace appsupport {

QString MessageText(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QtMessageBoxes::QtMessageBoxes(QWidget* owner, QString programName, QMessageBox::Icon questionIcon,
                               QtWindowTimers& timers)
    : m_owner(owner), m_programName(std::move(programName)), m_questionIcon(questionIcon), m_timers(timers) {}

void QtMessageBoxes::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, m_programName, MessageText(text), QMessageBox::Ok, m_owner);
    m_timers.RunModal([&box] { box.exec(); });
}

bool QtMessageBoxes::AskYesNo(const std::string& question) {
    QMessageBox box(m_questionIcon, m_programName, MessageText(question), QMessageBox::Yes | QMessageBox::No,
                    m_owner);
    int answer = QMessageBox::No;
    m_timers.RunModal([&] { answer = box.exec(); });
    return answer == QMessageBox::Yes;
}

} // namespace appsupport
