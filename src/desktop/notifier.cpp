#include "desktop/notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QPointer>
#include <QVariantMap>

namespace quillnest {

Q_LOGGING_CATEGORY(lcNotify, "quillnest.notify")

namespace {
const auto service = QStringLiteral("org.freedesktop.Notifications");
const auto path = QStringLiteral("/org/freedesktop/Notifications");
constexpr int callTimeoutMs = 5000;
} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

void DesktopNotifier::notify(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcNotify) << "no session bus; not shown:" << summary << body;
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillnest-bar"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1))); // normal
    call << QStringLiteral("Quillnest bar") << shown_ << QStringLiteral("quillnest-bar") << summary
         << body << QStringList() << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    const QString what = summary;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, what](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    qCWarning(lcNotify)
                        << "notification not shown:" << what << reply.error().message();
                    return;
                }
                shown_ = reply.value();
            });
}

} // namespace quillnest
