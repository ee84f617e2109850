// StatusItem where no session bus answers (CTest points DBUS_SESSION_BUS_ADDRESS at nothing): it
// keeps the image, tooltip and menu, shows nothing on the offscreen platform, and never waits.
#include "menu/dot_icon.h"
#include "platform/status_item.h"

#include <QAction>
#include <QDBusConnection>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

using namespace quillnest;

namespace {

Menu menuTitled(const QString& title) {
    MenuItem entry;
    entry.title = title;
    entry.action = Action::SyncNow;
    return {entry};
}

} // namespace

class TestStatusItemWithoutBus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void worksAsWithoutATray();
};

void TestStatusItemWithoutBus::worksAsWithoutATray() {
    QVERIFY(!QDBusConnection::sessionBus().isConnected());
    StatusItem item;
    item.setToolTip(QStringLiteral("Quillnest"));
    item.setMenu(menuTitled(QStringLiteral("my_project")));
    item.setImage(dotIcon(StatusColor::Yellow));
    item.setImage(dotIcon(StatusColor::Green));
    QVERIFY(item.image());
    QVERIFY(item.findChildren<QSystemTrayIcon*>().isEmpty());
    QVERIFY(!item.isMenuOpen());

    item.setMenu(menuTitled(QStringLiteral("R&D")));
    QCOMPARE(item.menu()->front().title, QStringLiteral("R&D"));
    QCOMPARE(item.qmenu()->actions().size(), 1);
    QCOMPARE(item.qmenu()->actions().first()->text(), QStringLiteral("R&&D"));
}

QTEST_MAIN(TestStatusItemWithoutBus)
#include "test_status_item_without_bus.moc"
