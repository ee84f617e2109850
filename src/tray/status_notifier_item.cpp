#include "tray/status_notifier_item.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
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

StatusNotifierItem::StatusNotifierItem(const QDBusObjectPath& menu, ActivateHandler activate,
                                       QObject* parent)
    : QObject(parent), menu_(menu), activate_(std::move(activate)) {
    registerDBusTypes();
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    SniPixmapList pixmaps = sniPixmaps(icon);
    if (pixmaps == pixmaps_)
        return;
    pixmaps_ = std::move(pixmaps);
    Q_EMIT NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (text == toolTip_)
        return;
    toolTip_ = text;
    Q_EMIT NewToolTip();
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

StatusNotifierExport::StatusNotifierExport(const QDBusConnection& bus,
                                           StatusNotifierItem::ActivateHandler activate,
                                           DBusMenu::PickHandler pick, DBusMenu::OpenHandler open)
    : bus_(bus), menu_(std::make_unique<DBusMenu>(std::move(pick), std::move(open))),
      item_(std::make_unique<StatusNotifierItem>(QDBusObjectPath(menuPath), std::move(activate))) {
    static int exports = 0;
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++exports);
}

bool StatusNotifierExport::publish() {
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
    announce();
    return true;
}

StatusNotifierExport::~StatusNotifierExport() {
    if (bus_.objectRegisteredAt(itemPath) == item_.get())
        bus_.unregisterObject(itemPath);
    if (bus_.objectRegisteredAt(menuPath) == menu_.get())
        bus_.unregisterObject(menuPath);
    bus_.unregisterService(service_);
}

void StatusNotifierExport::announce() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        statusNotifierWatcherService, QStringLiteral("/StatusNotifierWatcher"),
        statusNotifierWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    auto* reply = new QDBusPendingCallWatcher(bus_.asyncCall(call), item_.get());
    QObject::connect(reply, &QDBusPendingCallWatcher::finished, reply,
                     [](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             qCWarning(lcTray) << "The tray did not take the item:"
                                               << finished->error().message();
                         finished->deleteLater();
                     });
}

} // namespace quillnest
