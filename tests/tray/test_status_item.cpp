// StatusItem on a private session bus, seen from the other side as a tray host sees it: a fake
// StatusNotifierWatcher takes the registrations, and a second connection reads properties,
// introspection and layouts and sends events. Skipped without dbus-daemon.
#include "menu/dot_icon.h"
#include "support/menu_item.h"
#include "support/private_bus.h"
#include "tray/dbus_types.h"
#include "tray/status_item.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QPixmap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QXmlStreamReader>

using namespace quillnest;
using namespace quillnest::test;

namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

// The menu as the utility composes it: ids 1 status, 2 separator, 3 sync, 4 watch, 5 projects.
Menu menuWith(const QStringList& projects) {
    MenuItem separator;
    separator.separator = true;
    MenuItem master = item(QStringLiteral("Open master file"));
    master.hasSubmenu = true;
    for (const QString& project : projects) {
        master.submenu.push_back(item(project, Action::OpenMaster));
        master.submenu.back().represented = QStringLiteral("/p/") + project;
    }
    return {item(QStringLiteral("All rules in sync")), separator,
            item(QStringLiteral("Sync now"), Action::SyncNow),
            item(QStringLiteral("Watch for changes"), Action::ToggleWatch), master};
}

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList registered;
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { registered.append(service); }
};

const DBusMenuLayoutItem* findLabel(const DBusMenuLayoutItem& node, const QString& label) {
    if (node.properties.value(QStringLiteral("label")).toString() == label)
        return &node;
    for (const DBusMenuLayoutItem& child : node.children) {
        if (const DBusMenuLayoutItem* found = findLabel(child, label))
            return found;
    }
    return nullptr;
}

// The images of an IconPixmap by size; -1 for one that is not square or has too few bytes.
QMap<int, QByteArray> imagesBySize(const QVariant& value) {
    QMap<int, QByteArray> bySize;
    for (const SniPixmap& image : qdbus_cast<QList<SniPixmap>>(value)) {
        const bool whole = image.argb.size() == qsizetype(image.width) * image.height * 4;
        bySize.insert(image.width == image.height && whole ? image.width : -1, image.argb);
    }
    return bySize;
}

} // namespace

class TestStatusItem : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { QVERIFY(watcherBus().registerService(watcherName)); }
    void cleanup();
    void propertiesMatchTheirIntrospection_data();
    void propertiesMatchTheirIntrospection();
    void labelsShowAsWritten_data();
    void labelsShowAsWritten();
    void clickPicksTheItemOnce_data();
    void clickPicksTheItemOnce();
    void openHostMenuHoldsBackANewMenu_data();
    void openHostMenuHoldsBackANewMenu();
    void clickAfterCloseMeansTheItemTheHostShowed();
    void watcherThatAppearsOrRestartsIsTold();

public Q_SLOTS:
    void layoutUpdated(uint revision) { layoutRevisions_.append(revision); }

private:
    static QDBusConnection watcherBus() { return QDBusConnection(QStringLiteral("watcher")); }
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});
    QDBusMessage event(int id, const QString& name);
    QDBusMessage showMenu(const QString& method);
    QVariantMap properties(const QString& path, const QString& interface);
    std::pair<uint, DBusMenuLayoutItem> layout();
    QStringList itemsOnTheBus();
    void makeItem(const Menu& menu);

    const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
    PrivateBus bus_;
    FakeWatcher watcher_;
    std::unique_ptr<StatusItem> item_;
    QString service_;
    QList<uint> layoutRevisions_;
};

void TestStatusItem::initTestCase() {
    const QString address = bus_.start(); // the bus StatusItem will find
    if (address.isEmpty())
        QSKIP("no dbus-daemon to run a private session bus");
    registerDBusTypes(); // the structures are read with the item's own marshalling
    const auto connect = [&](const QString& name) {
        return QDBusConnection::connectToBus(address, name).isConnected();
    };
    QVERIFY(connect(QStringLiteral("watcher")) && connect(QStringLiteral("host")));
    QVERIFY(watcherBus().registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher_,
                                        QDBusConnection::ExportAllSlots));
    QVERIFY(QDBusConnection(QStringLiteral("host"))
                .connect(QString(), menuPath, menuInterface, QStringLiteral("LayoutUpdated"), this,
                         SLOT(layoutUpdated(uint))));
}

void TestStatusItem::cleanup() {
    item_.reset();
    service_.clear();
    watcher_.registered.clear();
    layoutRevisions_.clear();
    watcherBus().unregisterService(watcherName);
}

// The item answers from this thread, so the call keeps its event loop running while it waits.
QDBusMessage TestStatusItem::call(const QString& path, const QString& interface,
                                  const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service_, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection(QStringLiteral("host")).call(message, QDBus::BlockWithGui);
}

QDBusMessage TestStatusItem::event(int id, const QString& name) {
    return call(menuPath, menuInterface, QStringLiteral("Event"),
                {id, name, QVariant::fromValue(QDBusVariant(0)), 0u});
}

// Tells the item that the host shows its menu, in one of the ways hosts do.
QDBusMessage TestStatusItem::showMenu(const QString& method) {
    if (method == QLatin1String("Event"))
        return event(0, QStringLiteral("opened"));
    if (method == QLatin1String("AboutToShow"))
        return call(menuPath, menuInterface, method, {0});
    return call(menuPath, menuInterface, method, {QVariant::fromValue(QList<int>{0})});
}

QVariantMap TestStatusItem::properties(const QString& path, const QString& interface) {
    const QDBusMessage reply = call(path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("GetAll"), {interface});
    return reply.arguments().isEmpty() ? QVariantMap()
                                       : qdbus_cast<QVariantMap>(reply.arguments().first());
}

std::pair<uint, DBusMenuLayoutItem> TestStatusItem::layout() {
    const QDBusMessage reply =
        call(menuPath, menuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    if (reply.arguments().size() != 2)
        return {};
    return {reply.arguments()[0].toUInt(), qdbus_cast<DBusMenuLayoutItem>(reply.arguments()[1])};
}

QStringList TestStatusItem::itemsOnTheBus() {
    const QDBusConnection host(QStringLiteral("host"));
    return host.interface()->registeredServiceNames().value().filter(
        QRegularExpression(QStringLiteral("^org\\.kde\\.StatusNotifierItem-")));
}

// A new item with a watcher there: it registers with the watcher; service_ is its name.
void TestStatusItem::makeItem(const Menu& menu) {
    item_ = std::make_unique<StatusItem>();
    item_->setMenu(menu);
    item_->setImage(dotIcon(StatusColor::Green));
    QTRY_COMPARE(watcher_.registered.size(), 1);
    service_ = watcher_.registered.first();
}

void TestStatusItem::propertiesMatchTheirIntrospection_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("interface");
    QTest::newRow("item") << itemPath << itemInterface;
    QTest::newRow("menu") << menuPath << menuInterface;
}

// Every declared property is sent with its declared signature, and nothing else is sent. A wide
// opaque icon lands centred in each square image, as A, R, G, B bytes.
void TestStatusItem::propertiesMatchTheirIntrospection() {
    QFETCH(QString, path);
    QFETCH(QString, interface);
    makeItem(menuWith({}));
    QPixmap wide(256, 128); // larger than every image: a pixmap icon is never scaled up
    wide.fill(QColor(0x12, 0x34, 0x56));
    item_->setImage(QIcon(wide));
    QMap<QString, QString> declared;
    QXmlStreamReader xml(call(path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                              QStringLiteral("Introspect"))
                             .arguments()
                             .value(0)
                             .toString());
    for (bool inside = false; !xml.atEnd();) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("interface"))
            inside = xml.attributes().value(QLatin1String("name")) == interface;
        else if (inside && xml.isStartElement() && xml.name() == QLatin1String("property"))
            declared.insert(xml.attributes().value(QLatin1String("name")).toString(),
                            xml.attributes().value(QLatin1String("type")).toString());
    }
    QVERIFY(!xml.hasError());
    const QVariantMap sent = properties(path, interface);
    QCOMPARE(sent.keys(), declared.keys());
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        const QString signature =
            it->metaType() == QMetaType::fromType<QDBusArgument>()
                ? it->value<QDBusArgument>().currentSignature()
                : QString::fromLatin1(QDBusMetaType::typeToSignature(it->metaType()));
        QCOMPARE(it.key() + QLatin1Char(' ') + signature,
                 it.key() + QLatin1Char(' ') + declared[it.key()]);
    }
    if (path == itemPath) {
        QCOMPARE(sent[QStringLiteral("ItemIsMenu")], QVariant(true));
        QCOMPARE(sent[QStringLiteral("Menu")].value<QDBusObjectPath>().path(), menuPath);
        const QMap<int, QByteArray> images = imagesBySize(sent[QStringLiteral("IconPixmap")]);
        for (int size : {16, 22, 24, 32, 48})
            QVERIFY2(images.contains(size), qPrintable(QString::number(size)));
        QVERIFY(!images.contains(-1));
        for (auto it = images.cbegin(); it != images.cend(); ++it) {
            const auto pixel = [&](int x, int y) { return it->mid((y * it.key() + x) * 4, 4); };
            QCOMPARE(pixel(0, it.key() / 2).toHex(), QByteArray("ff123456"));
            QCOMPARE(pixel(it.key() / 2, 0).at(0), '\0'); // transparent above the icon
        }
    }
}

void TestStatusItem::labelsShowAsWritten_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("label");
    QTest::newRow("underscore") << QStringLiteral("my_project") << QStringLiteral("my__project");
    QTest::newRow("two") << QStringLiteral("snake__case_2") << QStringLiteral("snake____case__2");
    QTest::newRow("markup") << QStringLiteral("R&D <x>") << QStringLiteral("R&D <x>");
    QTest::newRow("Cyrillic") << QStringLiteral("Ёлка") << QStringLiteral("Ёлка");
}

void TestStatusItem::labelsShowAsWritten() {
    QFETCH(QString, title);
    QFETCH(QString, label);
    Menu menu = menuWith({title});
    menu.insert(menu.begin(), item(title));
    makeItem(menu);
    const DBusMenuLayoutItem root = layout().second;
    QCOMPARE(int(root.children.size()), 6);
    QCOMPARE(root.children[0].properties[QStringLiteral("label")].toString(), label);
    QCOMPARE(int(root.children[5].children.size()), 1);
    QCOMPARE(root.children[5].children[0].properties[QStringLiteral("label")].toString(), label);
}

void TestStatusItem::clickPicksTheItemOnce_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("grouped");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("represented");
    const QString sync = QStringLiteral("Sync now");
    QTest::newRow("Sync now") << sync << false << int(Action::SyncNow) << QString();
    QTest::newRow("in a group") << sync << true << int(Action::SyncNow) << QString();
    QTest::newRow("project") << QStringLiteral("my__p") << false << int(Action::OpenMaster)
                             << QStringLiteral("/p/my_p");
}

// Clicks on the info item and on the submenu item go first and do nothing.
void TestStatusItem::clickPicksTheItemOnce() {
    QFETCH(QString, label);
    QFETCH(bool, grouped);
    QFETCH(int, action);
    QFETCH(QString, represented);
    makeItem(menuWith({QStringLiteral("my_p")}));
    QSignalSpy picked(item_.get(), &StatusItem::activated);
    const int id = findLabel(layout().second, label)->id;
    QCOMPARE(event(1, QStringLiteral("clicked")).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(event(5, QStringLiteral("clicked")).type(), QDBusMessage::ReplyMessage);
    if (grouped)
        call(menuPath, menuInterface, QStringLiteral("EventGroup"),
             {QVariant::fromValue(
                 QList<DBusMenuEvent>{{id, QStringLiteral("clicked"), QDBusVariant(0), 0}})});
    else
        event(id, QStringLiteral("clicked"));
    QTRY_COMPARE(picked.size(), 1);
    QCOMPARE(picked[0][0].value<Action>(), Action(action));
    QCOMPARE(picked[0][1].toString(), represented);
    layout(); // one more round trip
    QCOMPARE(picked.size(), 1);
}

void TestStatusItem::openHostMenuHoldsBackANewMenu_data() {
    QTest::addColumn<QString>("method"); // how the host says it shows the menu
    QTest::newRow("opened") << QStringLiteral("Event");
    QTest::newRow("AboutToShow") << QStringLiteral("AboutToShow");
    QTest::newRow("AboutToShowGroup") << QStringLiteral("AboutToShowGroup");
}

// "opened", a new menu, "closed": the new menu is applied once, on close. A host that shows the
// menu again without "closed" in between gets a held-back menu before it reads the layout.
void TestStatusItem::openHostMenuHoldsBackANewMenu() {
    QFETCH(QString, method);
    makeItem(menuWith({QStringLiteral("a")}));
    QSignalSpy closed(item_.get(), &StatusItem::menuClosed);
    const uint revision = layout().first;
    QCOMPARE(showMenu(method).type(), QDBusMessage::ReplyMessage);
    QVERIFY(item_->isMenuOpen());
    item_->setMenu(menuWith({QStringLiteral("b")}));
    QCOMPARE(layout().first, revision);
    QVERIFY(findLabel(layout().second, QStringLiteral("a")));

    event(0, QStringLiteral("closed"));
    QTRY_COMPARE(closed.size(), 1);
    QVERIFY(!item_->isMenuOpen());
    QCOMPARE(layout().first, revision + 1);
    QVERIFY(findLabel(layout().second, QStringLiteral("b")));
    QTRY_COMPARE(layoutRevisions_, QList<uint>{revision + 1});
    item_->setMenu(menuWith({QStringLiteral("b")})); // the same again: nothing to tell
    QCOMPARE(layout().first, revision + 1);

    showMenu(method);
    item_->setMenu(menuWith({QStringLiteral("c")}));
    const QDBusMessage again = showMenu(method); // "closed" never came
    if (method == QLatin1String("AboutToShow"))  // needUpdate
        QCOMPARE(again.arguments().value(0), QVariant(true));
    if (method == QLatin1String("AboutToShowGroup")) // updatesNeeded
        QCOMPARE(qdbus_cast<QList<int>>(again.arguments().value(0)), QList<int>{0});
    QCOMPARE(layout().first, revision + 2);
    QVERIFY(findLabel(layout().second, QStringLiteral("c")));
    QVERIFY(item_->isMenuOpen());
}

// GTK hosts send "closed" before the "clicked" that closed the menu, when the held-back menu may
// be applied already: the click still means the item the host showed.
void TestStatusItem::clickAfterCloseMeansTheItemTheHostShowed() {
    Menu next = menuWith({});
    next.erase(next.begin() + 2); // "Watch for changes" moves to the place of "Sync now"
    makeItem(menuWith({}));
    QSignalSpy picked(item_.get(), &StatusItem::activated);
    QSignalSpy closed(item_.get(), &StatusItem::menuClosed);
    QCOMPARE(findLabel(layout().second, QStringLiteral("Sync now"))->id, 3);
    event(0, QStringLiteral("opened"));
    item_->setMenu(next);
    event(0, QStringLiteral("closed"));
    QTRY_COMPARE(closed.size(), 1);
    event(3, QStringLiteral("clicked"));
    QTRY_COMPARE(picked.size(), 1);
    QCOMPARE(picked[0][0].value<Action>(), Action::SyncNow);

    QCOMPARE(findLabel(layout().second, QStringLiteral("Watch for changes"))->id, 3);
    event(3, QStringLiteral("clicked"));
    QTRY_COMPARE(picked.size(), 2);
    QCOMPARE(picked[1][0].value<Action>(), Action::ToggleWatch);
}

// Without a watcher the item waits on the QSystemTrayIcon path; a watcher that appears gets it,
// one that restarts (a panel) is told again, and the name goes with the item.
void TestStatusItem::watcherThatAppearsOrRestartsIsTold() {
    watcherBus().unregisterService(watcherName);
    item_ = std::make_unique<StatusItem>();
    item_->setImage(dotIcon(StatusColor::Gray));
    QCOMPARE(itemsOnTheBus(), QStringList());
    QVERIFY(watcherBus().registerService(watcherName));
    QTRY_COMPARE(watcher_.registered.size(), 1);
    const QString name = watcher_.registered[0];
    QVERIFY2(name.startsWith(QStringLiteral("org.kde.StatusNotifierItem-%1-")
                                 .arg(QCoreApplication::applicationPid())),
             qPrintable(name));
    QCOMPARE(itemsOnTheBus(), QStringList{name});
    QVERIFY(item_->findChildren<QSystemTrayIcon*>().isEmpty());

    watcherBus().unregisterService(watcherName);
    QVERIFY(watcherBus().registerService(watcherName));
    QTRY_COMPARE(watcher_.registered, QStringList({name, name}));
    item_.reset();
    QCOMPARE(itemsOnTheBus(), QStringList());
}

QTEST_MAIN(TestStatusItem)
#include "test_status_item.moc"
