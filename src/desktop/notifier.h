// Desktop notifications: how the utility tells the user about something that went wrong while no
// menu is open (a command that could not start or failed).
//
// DesktopNotifier sends them to the session's notification server
// (org.freedesktop.Notifications), asynchronously, so a slow or missing server never blocks the
// caller; each new notification replaces the previous one of ours that is still shown. Without a
// session bus or a server the notification is logged and dropped. Main thread only.
#pragma once

#include <QObject>
#include <QString>

namespace quillnest {

class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows `summary` (one line) with `body` (plain text, may be several lines).
    virtual void notify(const QString& summary, const QString& body) = 0;
};

class DesktopNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    void notify(const QString& summary, const QString& body) override;

private:
    uint shown_ = 0; // the server's id of our last notification; 0 for none
};

} // namespace quillnest
