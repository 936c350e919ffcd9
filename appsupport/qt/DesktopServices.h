// The desktop's D-Bus services that a long job uses. Each is skipped silently
// where its bus or its service is missing.
// - SleepInhibitor: a logind inhibitor in "block" mode on the system bus; while
//   its file descriptor is open the machine neither sleeps nor suspends.
// - TaskbarProgress: the job's progress on the program's taskbar entry, by the
//   launcher-entry signal on the session bus, keyed by the desktop file id.
// Qt's D-Bus connections have a thread of their own; the calls are made, and
// their replies handled, on the thread that made the object (the window's).
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QDBusPendingCallWatcher;

namespace appsupport {

class SleepInhibitor {
  public:
    // what: logind's colon-separated list ("sleep:idle"); who and why: the
    // program and its reason, as the desktop lists them.
    SleepInhibitor(QString what, QString who, QString why);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    // Asks logind for the inhibitor; it is held once the reply has come.
    void Take();
    // Closes the inhibitor's descriptor; one still being asked for is closed
    // as soon as it comes.
    void Release();
    bool Held() const { return m_fd >= 0; }
    bool Asking() const { return m_asking; }

  private:
    void Answered(QDBusPendingCallWatcher* call);

    QString m_what;
    QString m_who;
    QString m_why;
    bool m_wanted = false;
    bool m_asking = false;
    int m_fd = -1;
    // Receives the replies; a reply still to come is dropped with it.
    std::unique_ptr<QObject> m_replies;
};

class TaskbarProgress {
  public:
    // desktopFileId: the program's desktop entry, e.g. "org.example.Program.desktop".
    explicit TaskbarProgress(const QString& desktopFileId);
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    // fraction from 0 to 1; sent when the whole percentage changes.
    void Show(double fraction);
    void Hide();

  private:
    void Send(double progress, bool visible);

    QString m_appUri;
    QString m_path;
    int m_percent = -1; // as shown; -1 while hidden
};

} // namespace appsupport
