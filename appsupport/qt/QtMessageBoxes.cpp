#include "QtMessageBoxes.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace appsupport {

namespace {
// A box placed by its window once its own size is known. (Qt's placement of a
// dialog guesses the frame where it knows none, and over a window not shown
// yet it centres on the place that window has not been moved to yet.)
class CentredBox : public QMessageBox {
  public:
    CentredBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons, QWidget* owner)
        : QMessageBox(icon, title, text, buttons, owner), m_owner(owner) {}

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event); // gives the box its size
        // Its frame is not there yet: the window's frame tells how large it will be.
        QSize outer = size();
        if (m_owner && m_owner->isVisible())
            outer += m_owner->frameGeometry().size() - m_owner->size();
        move(MessageBoxPosition(m_owner, outer));
    }

  private:
    QWidget* m_owner;
};
} // namespace

QString MessageText(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QPoint MessageBoxPosition(const QWidget* owner, QSize box) {
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->availableGeometry() : QRect();
    const QRect over = owner && owner->isVisible() ? owner->frameGeometry() : desktop;
    QPoint at = over.center() - QPoint(box.width() / 2, box.height() / 2);
    if (!desktop.isEmpty()) {
        at.setX(std::max(desktop.left(), std::min(at.x(), desktop.right() + 1 - box.width())));
        at.setY(std::max(desktop.top(), std::min(at.y(), desktop.bottom() + 1 - box.height())));
    }
    return at;
}

QtMessageBoxes::QtMessageBoxes(QWidget* owner, QString programName, QMessageBox::Icon questionIcon,
                               QtWindowTimers& timers)
    : m_owner(owner), m_programName(std::move(programName)), m_questionIcon(questionIcon), m_timers(timers) {}

void QtMessageBoxes::ShowMessage(const std::string& text) {
    CentredBox box(QMessageBox::NoIcon, m_programName, MessageText(text), QMessageBox::Ok, m_owner);
    m_timers.RunModal([&box] { box.exec(); });
}

bool QtMessageBoxes::AskYesNo(const std::string& question) {
    CentredBox box(m_questionIcon, m_programName, MessageText(question), QMessageBox::Yes | QMessageBox::No,
                   m_owner);
    int answer = QMessageBox::No;
    m_timers.RunModal([&] { answer = box.exec(); });
    return answer == QMessageBox::Yes;
}

} // namespace appsupport
