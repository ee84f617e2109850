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
// The key of the one action a notification of ours may offer.
const auto againKey = QStringLiteral("retry");
} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

void DesktopNotifier::notify(const QString& summary, const QString& body, const QString& action,
                             std::function<void()> onAction) {
    if (!QDBusConnection::sessionBus().isConnected()) {
        qCWarning(lcNotify) << "no session bus; not shown:" << summary << body;
        return;
    }
    onAction_ = action.isEmpty() ? nullptr : std::move(onAction);
    const Notification notification{summary, body, action};
    if (capabilities_ == Capabilities::Known) {
        send(notification);
        return;
    }
    // Sent as soon as the server has said how to send it; a later one replaces it, as it would
    // replace it on the screen.
    waiting_ = notification;
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
                if (std::optional<Notification> waiting = std::exchange(waiting_, std::nullopt))
                    send(*waiting);
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
        actions << againKey << notification.action;
    call << QStringLiteral("Quillnest bar") << shown_ << QStringLiteral("quillnest-bar")
         << notification.summary
         // A server that reads markup shows the escaped body as the plain text it is.
         << (bodyMarkup_ ? notification.body.toHtmlEscaped() : notification.body) << actions
         << hints << int(-1);
    ++sending_;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    const QString what = notification.summary;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, what](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                --sending_;
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    qCWarning(lcNotify)
                        << "notification not shown:" << what << reply.error().message();
                    return;
                }
                shown_ = reply.value();
            });
}

// Every client of the server hears every notification's signals: only our shown one is acted on.
void DesktopNotifier::actionInvoked(uint id, const QString& key) {
    if (id == 0 || id != shown_ || key != againKey || !onAction_)
        return;
    const std::function<void()> action = onAction_; // it may notify, replacing onAction_
    action();
}

void DesktopNotifier::notificationClosed(uint id, uint) {
    if (id == 0 || id != shown_)
        return;
    shown_ = 0;
    if (sending_ == 0) // otherwise the action belongs to the notification on its way
        onAction_ = nullptr;
}

} // namespace quillnest
