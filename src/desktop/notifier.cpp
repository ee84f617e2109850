#include "desktop/notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QVariantMap>

#include <utility>

namespace quillnest {

Q_LOGGING_CATEGORY(lcNotify, "quillnest.notify")

namespace {
const auto service = QStringLiteral("org.freedesktop.Notifications");
const auto path = QStringLiteral("/org/freedesktop/Notifications");
constexpr int callTimeoutMs = 5000;
// The key of the one action a notification of ours may offer: running a failed command again, or
// opening what a found secret or conflict concerns.
QString actionKey(NoticeKind kind) {
    return kind == NoticeKind::Failure ? QStringLiteral("retry") : QStringLiteral("open");
}
} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

void DesktopNotifier::notify(NoticeKind kind, const QString& summary, const QString& body,
                             const QString& action, std::function<void()> onAction) {
    if (!QDBusConnection::sessionBus().isConnected()) {
        qCWarning(lcNotify) << "no session bus; not shown:" << summary << body;
        return;
    }
    slot(kind).onAction = action.isEmpty() ? nullptr : std::move(onAction);
    const Notification notification{kind, summary, body, action};
    if (capabilities_ == Capabilities::Known) {
        send(notification);
        return;
    }
    // Sent as soon as the server has said how to send it; a later one of the same kind replaces
    // it, as it would replace it on the screen.
    slot(kind).waiting = notification;
    if (capabilities_ == Capabilities::Unknown)
        askCapabilities();
}

// The answer decides every later notification. A server that does not answer is asked again at
// the next notification; the waiting one goes as plain text without a button meanwhile.
void DesktopNotifier::askCapabilities() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!listening_) {
        listening_ = bus.connect(service, path, service, QStringLiteral("ActionInvoked"), this,
                                 SLOT(actionInvoked(uint, QString))) &&
                     bus.connect(service, path, service, QStringLiteral("NotificationClosed"), this,
                                 SLOT(notificationClosed(uint, uint)));
    }
    capabilities_ = Capabilities::Asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QStringList> reply = *finished;
                if (reply.isError()) {
                    qCWarning(lcNotify) << "no capabilities:" << reply.error().message();
                    capabilities_ = Capabilities::Unknown;
                    bodyMarkup_ = actions_ = false;
                } else {
                    capabilities_ = Capabilities::Known;
                    bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
                    actions_ = reply.value().contains(QStringLiteral("actions"));
                }
                for (Slot& waiting : slots_) {
                    if (std::optional<Notification> n = std::exchange(waiting.waiting, {}))
                        send(*n);
                }
            });
}

void DesktopNotifier::send(const Notification& notification) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillnest-bar"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1))); // normal
    QStringList actions;
    if (actions_ && !notification.action.isEmpty())
        actions << actionKey(notification.kind) << notification.action;
    Slot& own = slot(notification.kind);
    call << QStringLiteral("Quillnest bar") << own.shown << QStringLiteral("quillnest-bar")
         << notification.summary
         // A server that reads markup shows the escaped body as the plain text it is.
         << (bodyMarkup_ ? notification.body.toHtmlEscaped() : notification.body) << actions
         << hints << int(-1);
    ++own.sending;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    const QString what = notification.summary;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, what, &own](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                --own.sending;
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    qCWarning(lcNotify)
                        << "notification not shown:" << what << reply.error().message();
                    return;
                }
                own.shown = reply.value();
            });
}

// Every client of the server hears every notification's signals: only our shown ones are acted
// on.
void DesktopNotifier::actionInvoked(uint id, const QString& key) {
    for (size_t kind = 0; kind < slots_.size(); ++kind) {
        const Slot& shown = slots_[kind];
        if (id == 0 || id != shown.shown || key != actionKey(NoticeKind(kind)) || !shown.onAction)
            continue;
        const std::function<void()> action = shown.onAction; // it may notify, replacing it
        action();
        return;
    }
}

void DesktopNotifier::notificationClosed(uint id, uint) {
    for (Slot& closed : slots_) {
        if (id == 0 || id != closed.shown)
            continue;
        closed.shown = 0;
        if (closed.sending == 0) // otherwise the action belongs to the notification on its way
            closed.onAction = nullptr;
    }
}

} // namespace quillnest
