// Desktop notifications: how the utility tells the user about something that went wrong while no
// menu is open (a command that could not start or failed).
//
// DesktopNotifier sends them to the session's notification server
// (org.freedesktop.Notifications), asynchronously, so a slow or missing server never blocks the
// caller; each new notification replaces the previous one of ours of the same kind that is still
// shown, so a failure and found secrets never hide each other. Without a session bus or a server
// the notification is logged and dropped. Main thread only.
//
// The server's capabilities are asked once, at the first notification, which waits for the answer
// (at most the call timeout; only the latest such notification of each kind is kept): a body goes
// with its markup characters escaped to a server that reads markup in bodies and unchanged to any
// other, and an action is offered as a button only where the server has buttons.
#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace quillnest {

// What a notification is about; each kind replaces only its own earlier notification.
enum class NoticeKind { Failure, Secrets, Conflicts };

class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows `summary` (one line) with `body` (plain text, may be several lines). A non-empty
    // `action` is the label of a button, offered where the notification service has buttons;
    // choosing it calls `onAction` on the main thread, as long as that notification is the shown
    // one of ours of its kind.
    virtual void notify(NoticeKind kind, const QString& summary, const QString& body,
                        const QString& action, std::function<void()> onAction) = 0;
};

class DesktopNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    void notify(NoticeKind kind, const QString& summary, const QString& body, const QString& action,
                std::function<void()> onAction) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    struct Notification {
        NoticeKind kind;
        QString summary;
        QString body;
        QString action;
    };
    // The notifications of one kind.
    struct Slot {
        std::optional<Notification> waiting; // sent once the capabilities are known
        std::function<void()> onAction;      // the action of the latest notification
        int sending = 0;                     // Notify calls without a reply yet
        uint shown = 0;                      // the server's id of the last notification; 0 for none
    };
    void askCapabilities();
    void send(const Notification& notification);
    Slot& slot(NoticeKind kind) { return slots_[size_t(kind)]; }

    enum class Capabilities { Unknown, Asking, Known };
    Capabilities capabilities_ = Capabilities::Unknown;
    bool bodyMarkup_ = false;   // the server reads markup in bodies
    bool actions_ = false;      // the server shows buttons
    bool listening_ = false;    // connected to the server's signals
    std::array<Slot, 3> slots_; // by NoticeKind
};

} // namespace quillnest
