#include "tray/status_notifier_item.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QtEndian>

namespace quillnest {

Q_LOGGING_CATEGORY(lcTray, "quillnest.tray")

namespace {
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
constexpr int pixmapSizes[] = {16, 22, 24, 32, 48, 64};
} // namespace

SniPixmapList sniPixmaps(const QIcon& icon) {
    SniPixmapList pixmaps;
    for (int size : pixmapSizes) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            icon.paint(&painter, image.rect());
        }
        QByteArray argb(size * size * 4, Qt::Uninitialized);
        auto* out = reinterpret_cast<uchar*>(argb.data());
        for (int y = 0; y < size; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < size; ++x, out += 4)
                qToBigEndian<quint32>(line[x], out);
        }
        pixmaps.append({size, size, argb});
    }
    return pixmaps;
}

LabelStyle labelStyleForHost(const QString& processName) {
    return processName == QLatin1String("gnome-shell") ? LabelStyle::FirstUnderscoreRemoved
                                                       : LabelStyle::Mnemonic;
}

StatusNotifierItem::StatusNotifierItem(const QDBusObjectPath& menu, ActivateHandler activate,
                                       QObject* parent)
    : QObject(parent), menu_(menu), activate_(std::move(activate)) {
    registerDBusTypes();
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    if (icon.cacheKey() == icon_.cacheKey())
        return;
    icon_ = icon;
    pixmaps_.reset();
    changed(IconChanged);
}

const SniPixmapList& StatusNotifierItem::iconPixmap() const {
    if (!pixmaps_)
        pixmaps_ = sniPixmaps(icon_);
    return *pixmaps_;
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text) {
    if (title == toolTipTitle_ && text == toolTipText_)
        return;
    toolTipTitle_ = title;
    toolTipText_ = text;
    changed(ToolTipChanged);
}

void StatusNotifierItem::setAttention(bool attention) {
    if (attention == attention_)
        return;
    attention_ = attention;
    changed(StatusChanged);
}

void StatusNotifierItem::changed(Pending what) {
    pending_ |= what;
    if (held_)
        return;
    const int pending = std::exchange(pending_, 0);
    // The attention icon is the icon itself: the dot already says what needs attention, and a host
    // that shows a NeedsAttention item by its attention icon (GNOME Shell's) would otherwise show
    // a placeholder.
    if (pending & IconChanged) {
        Q_EMIT NewIcon();
        Q_EMIT NewAttentionIcon();
    }
    if (pending & ToolTipChanged)
        Q_EMIT NewToolTip();
    if (pending & StatusChanged)
        Q_EMIT NewStatus(status());
}

void StatusNotifierItem::holdSignals(bool hold) {
    held_ = hold;
    if (!hold && pending_)
        changed(Pending(0));
}

void StatusNotifierItem::ContextMenu(int x, int y) {
    activate_(QPoint(x, y));
}

void StatusNotifierItem::Activate(int x, int y) {
    activate_(QPoint(x, y));
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}

void StatusNotifierItem::ProvideXdgActivationToken(const QString&) {}

StatusNotifierTray::StatusNotifierTray(const QDBusConnection& bus,
                                       StatusNotifierItem::ActivateHandler activate,
                                       DBusMenu::PickHandler pick)
    : bus_(bus), menu_(std::make_unique<DBusMenu>(std::move(pick))),
      item_(std::make_unique<StatusNotifierItem>(QDBusObjectPath(menuPath), std::move(activate))) {
    static int backends = 0;
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++backends);
    settle_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, [this] { holdSignals(false); });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &StatusNotifierTray::ask);
}

bool StatusNotifierTray::publish() {
    const auto contents = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                          QDBusConnection::ExportAllProperties;
    if (!bus_.registerObject(menuPath, menu_.get(), contents) ||
        !bus_.registerObject(itemPath, item_.get(), contents)) {
        qCWarning(lcTray) << "Cannot export the tray item on D-Bus: another object is there";
        return false;
    }
    if (!bus_.registerService(service_)) {
        qCWarning(lcTray) << "Cannot own the D-Bus name" << service_ << ":"
                          << bus_.lastError().message();
        return false;
    }
    bus_.connect(statusNotifierWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                 statusNotifierWatcherService, QStringLiteral("StatusNotifierItemUnregistered"),
                 this, SLOT(unregistered(QString)));
    announce();
    return true;
}

StatusNotifierTray::~StatusNotifierTray() {
    bus_.disconnect(statusNotifierWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                    statusNotifierWatcherService, QStringLiteral("StatusNotifierItemUnregistered"),
                    this, SLOT(unregistered(QString)));
    if (bus_.objectRegisteredAt(itemPath) == item_.get())
        bus_.unregisterObject(itemPath);
    if (bus_.objectRegisteredAt(menuPath) == menu_.get())
        bus_.unregisterObject(menuPath);
    bus_.unregisterService(service_);
}

void StatusNotifierTray::announce() {
    retry_.stop();
    retryMs_ = 1000;
    ask();
}

// The watcher's process name, from /proc, picks the label style; a watcher whose process cannot
// be known is taken for a host that follows the protocol.
void StatusNotifierTray::ask() {
    const int generation = ++generation_;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
    call << statusNotifierWatcherService;
    auto* reply = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (generation != generation_)
                    return;
                const QDBusPendingReply<uint> pid = *finished;
                QString process;
                if (pid.isValid()) {
                    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid.value()));
                    if (comm.open(QIODevice::ReadOnly))
                        process = QString::fromUtf8(comm.readAll().trimmed());
                }
                registerWithWatcher(process);
            });
}

void StatusNotifierTray::registerWithWatcher(const QString& watcherProcess) {
    const LabelStyle style = labelStyleForHost(watcherProcess);
    menu_->setLabelStyle(style);
    if (style == LabelStyle::FirstUnderscoreRemoved) {
        item_->onIdRead([this] {
            QDBusMessage changed = QDBusMessage::createSignal(
                itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"));
            changed << QStringLiteral("org.kde.StatusNotifierItem")
                    << QVariantMap{{QStringLiteral("Id"), itemId},
                                   {QStringLiteral("Menu"),
                                    QVariant::fromValue(QDBusObjectPath(menuPath))}}
                    << QStringList();
            bus_.send(changed);
        });
    } else {
        item_->onIdRead({});
    }
    // Only GNOME Shell's extension needs the settle period (see the class comment).
    settle_.stop();
    holdSignals(style == LabelStyle::FirstUnderscoreRemoved);
    QDBusMessage call = QDBusMessage::createMethodCall(
        statusNotifierWatcherService, QStringLiteral("/StatusNotifierWatcher"),
        statusNotifierWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    const int generation = generation_;
    auto* reply = new QDBusPendingCallWatcher(bus_.asyncCall(call, registerTimeoutMs), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this,
            [this, generation, settle = style == LabelStyle::FirstUnderscoreRemoved](
                QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (generation != generation_)
                    return;
                if (settle)
                    settle_.start(settleMs);
                registered(finished->error());
            });
}

// A watcher that went answers ServiceUnknown: the next one is told of the item when it appears.
void StatusNotifierTray::registered(const QDBusError& error) {
    const bool refused = error.isValid() && error.type() != QDBusError::ServiceUnknown;
    if (error.isValid())
        qCWarning(lcTray) << "The tray did not take the item:" << error.message();
    else
        taken_.start();
    if (refused)
        askAgainLater();
    if (refused != refused_) {
        refused_ = refused;
        Q_EMIT refusedChanged();
    }
}

// 1 s, then twice as long each time up to a minute. Trouble long after the watcher took the item
// is new trouble, not a host that keeps refusing it: the wait starts again at 1 s.
void StatusNotifierTray::askAgainLater() {
    if (taken_.isValid() && taken_.elapsed() > 60000) {
        retryMs_ = 1000;
        taken_.invalidate();
    }
    qCInfo(lcTray) << "Asking the tray again in" << retryMs_ << "ms";
    retry_.start(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, 60000);
}

void StatusNotifierTray::holdSignals(bool hold) {
    item_->holdSignals(hold);
    menu_->holdSignals(hold);
}

// Watchers name an item by its bus name or its unique connection name, with or without the
// object path.
void StatusNotifierTray::unregistered(const QString& service) {
    const QString name = service.section(QLatin1Char('/'), 0, 0);
    if (name != service_ && name != bus_.baseService())
        return;
    if (!bus_.interface()->isServiceRegistered(statusNotifierWatcherService))
        return; // the watcher went; StatusItem hears of it and chooses again
    qCInfo(lcTray) << "The tray dropped the item";
    askAgainLater();
}

} // namespace quillnest
