#include "DesktopServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace appsupport {

SleepInhibitor::SleepInhibitor(QString what, QString who, QString why)
    : m_what(std::move(what)), m_who(std::move(who)), m_why(std::move(why)),
      m_replies(std::make_unique<QObject>()) {}

SleepInhibitor::~SleepInhibitor() {
    Release();
}

void SleepInhibitor::Take() {
    m_wanted = true;
    if (Held() || m_asking)
        return;
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << m_what << m_who << m_why << QStringLiteral("block");
    // Not waited for: the window goes on, and the reply comes as an event.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), m_replies.get());
    m_asking = true;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_replies.get(),
                     [this](QDBusPendingCallWatcher* answered) { Answered(answered); });
}

void SleepInhibitor::Answered(QDBusPendingCallWatcher* call) {
    m_asking = false;
    call->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    // No logind, or it refused: the job runs without the inhibitor.
    if (reply.isError() || !reply.value().isValid())
        return;
    // A descriptor of our own; the reply's copy is closed with the reply, so
    // one released while it was being asked for is given up here.
    if (m_wanted)
        m_fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

void SleepInhibitor::Release() {
    m_wanted = false;
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

TaskbarProgress::TaskbarProgress(const QString& desktopFileId)
    : m_appUri(QStringLiteral("application://") + desktopFileId) {
    QString name = desktopFileId;
    std::replace_if(
        name.begin(), name.end(), [](QChar c) { return !c.isLetterOrNumber(); }, QChar('_'));
    m_path = QStringLiteral("/com/canonical/unity/launcherentry/") + name;
}

TaskbarProgress::~TaskbarProgress() {
    Hide();
}

void TaskbarProgress::Show(double fraction) {
    const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100));
    if (percent == m_percent)
        return;
    m_percent = percent;
    Send(percent / 100.0, true);
}

void TaskbarProgress::Hide() {
    if (m_percent < 0)
        return;
    m_percent = -1;
    Send(0, false);
}

void TaskbarProgress::Send(double progress, bool visible) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage update = QDBusMessage::createSignal(
        m_path, QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    const QVariantMap properties{{QStringLiteral("progress"), progress},
                                 {QStringLiteral("progress-visible"), visible}};
    update << m_appUri << properties;
    bus.send(update);
}

} // namespace appsupport
