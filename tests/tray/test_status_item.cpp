// StatusItem on a private session bus, seen from the other side as a tray host sees it: a fake
// StatusNotifierWatcher takes the registrations, and a second connection reads properties,
// introspection and layouts and sends events. Skipped without dbus-daemon.
#include "menu/compose.h"
#include "menu/dot_icon.h"
#include "support/fake_watcher.h"
#include "support/menu_item.h"
#include "support/private_bus.h"
#include "tray/dbus_types.h"
#include "tray/status_item.h"
#include "tray/status_notifier_item.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QPixmap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QXmlStreamReader>

#include <sys/prctl.h>

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

// The signals a host receives from the item and its menu, in order.
class HostSignals : public QObject {
    Q_OBJECT
public:
    QList<QDBusMessage> received;
    QStringList names() const {
        QStringList names;
        for (const QDBusMessage& message : received)
            names.append(message.member());
        return names;
    }
public Q_SLOTS:
    void signal(const QDBusMessage& message) { received.append(message); }
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
    void shownMenuHoldsNothingBack_data();
    void shownMenuHoldsNothingBack();
    void changesWaitForTheHostToSetUp_data();
    void changesWaitForTheHostToSetUp();
    void registrationIsAskedAgain_data();
    void registrationIsAskedAgain();
    void toolTipAndStatusTellTheState_data();
    void toolTipAndStatusTellTheState();
    void backendFollowsThePanels();

private:
    static QDBusConnection watcherBus() { return QDBusConnection(QStringLiteral("watcher")); }
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {},
                      const QString& connection = QStringLiteral("host"));
    QDBusMessage event(int id, const QString& name);
    QVariantMap properties(const QString& path, const QString& interface);
    std::pair<uint, DBusMenuLayoutItem> layout();
    QStringList itemsOnTheBus();
    void makeItem(const Menu& menu);

    const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
    PrivateBus bus_;
    FakeWatcher watcher_;
    std::unique_ptr<StatusItem> item_;
    QString service_;
    HostSignals signals_;
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
    StatusNotifierTray::settleMs = 100;
    StatusNotifierTray::registerTimeoutMs = 1500;
    for (const auto& [path, interface, name] :
         {std::tuple{menuPath, menuInterface, "LayoutUpdated"},
          std::tuple{menuPath, menuInterface, "ItemsPropertiesUpdated"},
          std::tuple{itemPath, itemInterface, "NewIcon"},
          std::tuple{itemPath, itemInterface, "NewToolTip"},
          std::tuple{itemPath, itemInterface, "NewStatus"}})
        QVERIFY(QDBusConnection(QStringLiteral("host"))
                    .connect(QString(), path, interface, QString::fromLatin1(name), &signals_,
                             SLOT(signal(QDBusMessage))));
}

void TestStatusItem::cleanup() {
    item_.reset();
    service_.clear();
    watcher_.registered.clear();
    watcher_.answers.clear();
    watcher_.unanswered.clear();
    prctl(PR_SET_NAME, "test_status");
    signals_.received.clear();
    watcherBus().unregisterService(watcherName);
}

// The item answers from this thread, so the call keeps its event loop running while it waits.
QDBusMessage TestStatusItem::call(const QString& path, const QString& interface,
                                  const QString& method, const QVariantList& arguments,
                                  const QString& connection) {
    QDBusMessage message = QDBusMessage::createMethodCall(service_, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection(connection).call(message, QDBus::BlockWithGui);
}

QDBusMessage TestStatusItem::event(int id, const QString& name) {
    return call(menuPath, menuInterface, QStringLiteral("Event"),
                {id, name, QVariant::fromValue(QDBusVariant(0)), 0u});
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

// A new item with a watcher there: it registers with the watcher; service_ is its name. Returns
// once the settle period after the registration is over.
void TestStatusItem::makeItem(const Menu& menu) {
    item_ = std::make_unique<StatusItem>(nullptr, [] { return false; });
    item_->setMenu(menu);
    item_->setImage(dotIcon(StatusColor::Green));
    QTRY_COMPARE(watcher_.registered.size(), 1);
    service_ = watcher_.registered.first();
    QTest::qWait(StatusNotifierTray::settleMs + 50);
    signals_.received.clear();
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

void TestStatusItem::shownMenuHoldsNothingBack_data() {
    QTest::addColumn<QString>("method"); // how the host says it shows the menu
    QTest::newRow("AboutToShow") << QStringLiteral("AboutToShow");
    QTest::newRow("AboutToShowGroup") << QStringLiteral("AboutToShowGroup");
}

// A client shows the menu and leaves the bus without closing it. Every change still goes out at
// once: the icon, a property change in place (the ids stay), a new structure as a new layout. A
// click on an item that has gone is refused and picks nothing.
void TestStatusItem::shownMenuHoldsNothingBack() {
    QFETCH(QString, method);
    makeItem(menuWith({QStringLiteral("a")}));
    QSignalSpy picked(item_.get(), &StatusItem::activated);
    const auto [revision, before] = layout();
    const int project = findLabel(before, QStringLiteral("a"))->id;
    const QString client = QStringLiteral("client");
    QVERIFY(QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), client)
                .isConnected());
    const QVariant group = QVariant::fromValue(QList<int>{0});
    const QDBusMessage shown = method == QLatin1String("AboutToShow")
                                   ? call(menuPath, menuInterface, method, {0}, client)
                                   : call(menuPath, menuInterface, method, {group}, client);
    QCOMPARE(shown.type(), QDBusMessage::ReplyMessage);
    QCOMPARE(shown.arguments().value(0).toBool() ||
                 !qdbus_cast<QList<int>>(shown.arguments().value(0)).isEmpty(),
             false); // nothing was missed
    call(menuPath, menuInterface, QStringLiteral("Event"),
         {0, QStringLiteral("opened"), QVariant::fromValue(QDBusVariant(0)), 0u}, client);
    QDBusConnection::disconnectFromBus(client);

    item_->setImage(dotIcon(StatusColor::Red));
    QTRY_COMPARE(signals_.names(), QStringList{QStringLiteral("NewIcon")});
    Menu renamed = menuWith({QStringLiteral("a")});
    renamed[0].title = QStringLiteral("Found 1 password(s)/key(s) in rules");
    item_->setMenu(renamed);
    QTRY_COMPARE(signals_.names().size(), 2);
    QCOMPARE(signals_.names()[1], QStringLiteral("ItemsPropertiesUpdated"));
    const auto updated =
        qdbus_cast<QList<DBusMenuItemProperties>>(signals_.received[1].arguments().value(0));
    QCOMPARE(updated.size(), 1);
    QCOMPARE(updated[0].id, before.children[0].id);
    QCOMPARE(updated[0].properties.keys(), QStringList{QStringLiteral("label")});
    QCOMPARE(layout().first, revision);

    item_->setMenu(menuWith({}));
    QTRY_COMPARE(signals_.names().size(), 3);
    QCOMPARE(signals_.names()[2], QStringLiteral("LayoutUpdated"));
    const auto [newRevision, after] = layout();
    QCOMPARE(newRevision, revision + 1);
    QCOMPARE(after.children[0].id, before.children[0].id);
    QCOMPARE(event(project, QStringLiteral("clicked")).type(), QDBusMessage::ErrorMessage);
    layout(); // one more round trip
    QCOMPARE(picked.size(), 0);
}

void TestStatusItem::changesWaitForTheHostToSetUp_data() {
    QTest::addColumn<QByteArray>("host"); // the watcher's process name: this one's
    QTest::newRow("GNOME Shell") << QByteArray("gnome-shell");
    QTest::newRow("another host") << QByteArray("xfce4-panel");
}

// Changes made while GNOME Shell sets the item up wait for the end of the settle period, and then
// go out once each kind; any other host is sent each at once.
void TestStatusItem::changesWaitForTheHostToSetUp() {
    QFETCH(QByteArray, host);
    const bool gnome = host == "gnome-shell";
    prctl(PR_SET_NAME, host.constData());
    item_ = std::make_unique<StatusItem>(nullptr, [] { return false; });
    item_->setMenu(menuWith({}));
    item_->setImage(dotIcon(StatusColor::Green));
    QTRY_COMPARE(watcher_.registered.size(), 1);
    service_ = watcher_.registered.first();
    item_->setImage(dotIcon(StatusColor::Red));
    item_->setImage(dotIcon(StatusColor::Yellow));
    item_->setMenu(menuWith({QStringLiteral("a")}));
    const QDBusMessage shown = call(menuPath, menuInterface, QStringLiteral("AboutToShow"), {0});
    QCOMPARE(shown.arguments().value(0), QVariant(gnome)); // a change the host was not told of
    if (gnome)
        QCOMPARE(signals_.names(), QStringList());
    QTRY_COMPARE(signals_.names().size(), gnome ? 2 : 3);
    const QStringList names = signals_.names();
    QCOMPARE(QSet<QString>(names.cbegin(), names.cend()),
             (QSet<QString>{QStringLiteral("NewIcon"), QStringLiteral("LayoutUpdated")}));
    QVERIFY(findLabel(layout().second, QStringLiteral("a")));
}

void TestStatusItem::registrationIsAskedAgain_data() {
    QTest::addColumn<QString>("answers"); // R refused, I or L unanswered; then taken
    QTest::addColumn<bool>("xembed");
    QTest::newRow("error reply") << "R" << false;
    QTest::newRow("no reply") << "I" << false;
    QTest::newRow("error reply, XEmbed tray") << "R" << true;
    QTest::newRow("no reply, error reply, XEmbed tray") << "IR" << true;
    QTest::newRow("late error reply") << "L" << false;
}

// Asked again 1 s after the first refusal, 2 s after the second; meanwhile an XEmbed tray shows
// the icon, and the watcher gets it back once it takes the item. An answer to a call that a new
// watcher made moot changes nothing.
void TestStatusItem::registrationIsAskedAgain() {
    QFETCH(QString, answers);
    QFETCH(bool, xembed);
    for (QChar answer : answers)
        watcher_.answers.append(answer == u'R' ? FakeWatcher::Refuse : FakeWatcher::Ignore);
    QElapsedTimer waited;
    waited.start();
    item_ = std::make_unique<StatusItem>(nullptr, [xembed] { return xembed; });
    item_->setMenu(menuWith({}));
    item_->setImage(dotIcon(StatusColor::Green));
    if (answers == u"L") { // the watcher restarts, then the first one's refusal arrives
        QTRY_COMPARE(watcher_.unanswered.size(), 1);
        watcherBus().unregisterService(watcherName);
        QVERIFY(watcherBus().registerService(watcherName));
        QTRY_COMPARE(watcher_.registered.size(), 1);
        watcherBus().send(watcher_.unanswered[0].createErrorReply(QDBusError::Failed, {}));
        QTest::qWait(1300);
        QCOMPARE(watcher_.registered.size(), 1); // not asked again
        return;
    }
    QTRY_COMPARE(item_->kind(),
                 xembed ? StatusItem::Kind::XEmbed : StatusItem::Kind::StatusNotifier);
    QCOMPARE(itemsOnTheBus().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(watcher_.registered, itemsOnTheBus(), 10000);
    QVERIFY(waited.elapsed() >= 900 * ((1 << answers.size()) - 1));
    QTRY_COMPARE(item_->kind(), StatusItem::Kind::StatusNotifier);
}

void TestStatusItem::toolTipAndStatusTellTheState_data() {
    QTest::addColumn<bool>("ru");
    QTest::addColumn<qint64>("secrets");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    QTest::newRow("green") << false << qint64(0)
                           << QStringLiteral(
                                  "All rules in sync and clean\nLast sync: 2 minutes ago")
                           << QStringLiteral("Active");
    QTest::newRow("red") << false << qint64(2)
                         << QStringLiteral(
                                "Found 2 password(s)/key(s) in rules\nLast sync: 2 minutes ago")
                         << QStringLiteral("NeedsAttention");
    QTest::newRow("green, Russian")
        << true << qint64(0)
        << QStringLiteral("Все правила синхронны, всё чисто\nСинхронизация: 2 минуты назад")
        << QStringLiteral("Active");
    QTest::newRow("red, Russian")
        << true << qint64(1)
        << QStringLiteral("В правилах найдено паролей/ключей: 1\nСинхронизация: 2 минуты назад")
        << QStringLiteral("NeedsAttention");
}

// As App::refresh() hands them over; read by the host after the change signals.
void TestStatusItem::toolTipAndStatusTellTheState() {
    QFETCH(bool, ru);
    QFETCH(qint64, secrets);
    QFETCH(QString, text);
    QFETCH(QString, status);
    makeItem(menuWith({}));
    MenuInputs inputs;
    inputs.ru = ru;
    inputs.now = QDateTime(QDate(2024, 5, 1), QTime(10, 2), Qt::UTC);
    inputs.summary.synced = QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC);
    inputs.summary.secrets = secrets;
    const Composition composition = compose(inputs);
    item_->setToolTip(QStringLiteral("Quillnest"), composition.toolTip);
    item_->setAttention(composition.attention);
    QTRY_VERIFY(signals_.names().contains(QStringLiteral("NewToolTip")));
    QCOMPARE(signals_.names().contains(QStringLiteral("NewStatus")), secrets > 0);
    const QVariantMap sent = properties(itemPath, itemInterface);
    const SniToolTip toolTip = qdbus_cast<SniToolTip>(sent[QStringLiteral("ToolTip")]);
    QCOMPARE(toolTip.title, QStringLiteral("Quillnest"));
    QCOMPARE(toolTip.description, text);
    QCOMPARE(sent[QStringLiteral("Status")].toString(), status);
    // A host that shows a NeedsAttention item by its attention icon shows the dot all the same.
    const auto pixmaps = [&](const char* name) {
        return qdbus_cast<SniPixmapList>(sent[QString::fromLatin1(name)]);
    };
    QVERIFY(!pixmaps("IconPixmap").isEmpty());
    QCOMPARE(pixmaps("AttentionIconPixmap"), pixmaps("IconPixmap"));
}

// Without a watcher or an XEmbed tray nothing is shown. A watcher that appears takes the item;
// when it goes, an XEmbed tray that is there takes it back, and keeps it when a watcher comes
// again, until the tray goes. A watcher that restarts is told again, and the name goes with the
// item.
void TestStatusItem::backendFollowsThePanels() {
    watcherBus().unregisterService(watcherName);
    bool xembed = false;
    item_ = std::make_unique<StatusItem>(nullptr, [&xembed] { return xembed; });
    item_->setImage(dotIcon(StatusColor::Gray));
    item_->setMenu(menuWith({}));
    QCOMPARE(item_->kind(), StatusItem::Kind::None);
    QCOMPARE(itemsOnTheBus(), QStringList());
    QVERIFY(watcherBus().registerService(watcherName));
    QTRY_COMPARE(watcher_.registered.size(), 1);
    const QString name = watcher_.registered[0];
    QVERIFY2(name.startsWith(QStringLiteral("org.kde.StatusNotifierItem-%1-")
                                 .arg(QCoreApplication::applicationPid())),
             qPrintable(name));
    QCOMPARE(itemsOnTheBus(), QStringList{name});
    QCOMPARE(item_->kind(), StatusItem::Kind::StatusNotifier);

    xembed = true;
    watcherBus().unregisterService(watcherName);
    QTRY_COMPARE(item_->kind(), StatusItem::Kind::XEmbed);
    QCOMPARE(itemsOnTheBus(), QStringList());
    QVERIFY(watcherBus().registerService(watcherName));
    QTest::qWait(100);
    QCOMPARE(item_->kind(), StatusItem::Kind::XEmbed);

    xembed = false; // the tray went: the watcher gets the item at the next look
    QTRY_COMPARE(item_->kind(), StatusItem::Kind::StatusNotifier);
    QTRY_COMPARE(watcher_.registered.size(), 2);
    const QString again = watcher_.registered[1];
    watcherBus().unregisterService(watcherName);
    QVERIFY(watcherBus().registerService(watcherName));
    QTRY_COMPARE(watcher_.registered.size(), 3);
    QCOMPARE(watcher_.registered[2], again);
    QCOMPARE(itemsOnTheBus(), QStringList{again});
    item_.reset();
    QCOMPARE(itemsOnTheBus(), QStringList());
}

QTEST_MAIN(TestStatusItem)
#include "test_status_item.moc"
