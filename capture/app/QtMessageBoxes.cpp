#include "QtMessageBoxes.h"

#include <QMessageBox>

namespace capture {

namespace {
QString WithLineBreaks(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
} // namespace

QtMessageBoxes::QtMessageBoxes(QWidget* owner, std::function<void(const std::function<void()>&)> aroundModal)
    : m_owner(owner), m_aroundModal(std::move(aroundModal)) {}

void QtMessageBoxes::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quorvex"), WithLineBreaks(text), QMessageBox::Ok,
                    m_owner);
    m_aroundModal([&box] { box.exec(); });
}

bool QtMessageBoxes::AskYesNo(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quorvex"), WithLineBreaks(question),
                    QMessageBox::Yes | QMessageBox::No, m_owner);
    int answer = QMessageBox::No;
    m_aroundModal([&] { answer = box.exec(); });
    return answer == QMessageBox::Yes;
}

} // namespace capture
