// Desktop notifications: how the utility tells the user about something that went wrong while no
// menu is open (a command that could not start or failed).
//
// DesktopNotifier sends them to the session's notification server
// (org.freedesktop.Notifications), asynchronously, so a slow or missing server never blocks the
// caller; each new notification replaces the previous one of ours that is still shown. Without a
// session bus or a server the notification is logged and dropped. Main thread only.
//
// The server's capabilities are asked once, at the first notification, which waits for the answer
// (at most the call timeout; only the latest such notification is kept): a body goes with its
// markup characters escaped to a server that reads markup in bodies and unchanged to any other,
// and an action is offered as a button only where the server has buttons.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quillnest {

class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows `summary` (one line) with `body` (plain text, may be several lines). A non-empty
    // `action` is the label of a button, offered where the notification service has buttons;
    // choosing it calls `onAction` on the main thread, as long as that notification is the shown
    // one of ours.
    virtual void notify(const QString& summary, const QString& body, const QString& action,
                        std::function<void()> onAction) = 0;
};

class DesktopNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    void notify(const QString& summary, const QString& body, const QString& action,
                std::function<void()> onAction) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    struct Notification {
        QString summary;
        QString body;
        QString action;
    };
    void askCapabilities();
    void send(const Notification& notification);

    enum class Capabilities { Unknown, Asking, Known };
    Capabilities capabilities_ = Capabilities::Unknown;
    bool bodyMarkup_ = false;             // the server reads markup in bodies
    bool actions_ = false;                // the server shows buttons
    bool listening_ = false;              // connected to the server's signals
    std::optional<Notification> waiting_; // sent once the capabilities are known
    std::function<void()> onAction_;      // the action of the latest notification
    int sending_ = 0;                     // Notify calls without a reply yet
    uint shown_ = 0;                      // the server's id of our last notification; 0 for none
};

} // namespace quillnest
