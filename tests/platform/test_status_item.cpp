// StatusItem on a private session bus, seen from the other side as a tray host sees it: a fake
// StatusNotifierWatcher takes the registrations, and a separate connection reads properties, asks
// for the layout and sends events. The test starts its own dbus-daemon and is skipped without one.
#include "menu/dot_icon.h"
#include "platform/status_item.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

#include <signal.h>
#include <sys/prctl.h>

Q_DECLARE_METATYPE(quillnest::Action)

using namespace quillnest;

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

MenuItem item(const QString& title, Action action = Action::None) {
    MenuItem entry;
    entry.title = title;
    entry.action = action;
    return entry;
}

// The menu as the utility composes it, with `projects` in the master-file submenu.
Menu menuWith(const QStringList& projects) {
    MenuItem status = item(QStringLiteral("All rules in sync and clean"));
    status.enabled = false;
    MenuItem separator;
    separator.separator = true;
    MenuItem sync = item(QStringLiteral("Sync now"), Action::SyncNow);
    sync.key = QStringLiteral("s");
    MenuItem watch = item(QStringLiteral("Watch for changes"), Action::ToggleWatch);
    MenuItem master = item(QStringLiteral("Open master file"));
    master.hasSubmenu = true;
    for (const QString& project : projects) {
        MenuItem entry = item(project, Action::OpenMaster);
        entry.represented = QStringLiteral("/home/u/") + project + QLatin1Char('/');
        master.submenu.push_back(entry);
    }
    MenuItem quit = item(QStringLiteral("Quit"), Action::Quit);
    quit.key = QStringLiteral("q");
    return {status, separator, sync, watch, master, separator, quit};
}

// The watcher side of the protocol: remembers who registered.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList registered;
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { registered.append(service); }
};

// Signals the host connection has seen.
class SignalLog : public QObject {
    Q_OBJECT
public:
    QList<uint> layoutRevisions;
    int newIcon = 0;
    int newToolTip = 0;
public Q_SLOTS:
    void layoutUpdated(uint revision, int) { layoutRevisions.append(revision); }
    void iconChanged() { ++newIcon; }
    void toolTipChanged() { ++newToolTip; }
};

// A layout item as a host reads it off the wire: (ia{sv}av), children nested in variants.
struct Node {
    int id = 0;
    QVariantMap properties;
    QList<Node> children;

    QString label() const { return properties.value(QStringLiteral("label")).toString(); }
};

Node readNode(const QDBusArgument& argument) {
    Node node;
    argument.beginStructure();
    argument >> node.id >> node.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        node.children.append(readNode(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return node;
}

const Node* findLabel(const Node& node, const QString& label) {
    if (node.label() == label)
        return &node;
    for (const Node& child : node.children) {
        if (const Node* found = findLabel(child, label))
            return found;
    }
    return nullptr;
}

struct Image {
    int width = 0;
    int height = 0;
    QByteArray argb;
};

QList<Image> readImages(const QDBusArgument& argument) {
    QList<Image> images;
    argument.beginArray();
    while (!argument.atEnd()) {
        Image image;
        argument.beginStructure();
        argument >> image.width >> image.height >> image.argb;
        argument.endStructure();
        images.append(image);
    }
    argument.endArray();
    return images;
}

// An event as a host sends it in EventGroup: (isvu).
struct HostEvent {
    int id = 0;
    QString eventId;
};

QDBusArgument& operator<<(QDBusArgument& argument, const HostEvent& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << QDBusVariant(QString()) << 0u;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, HostEvent& event) {
    QDBusVariant data;
    uint timestamp = 0;
    argument.beginStructure();
    argument >> event.id >> event.eventId >> data >> timestamp;
    argument.endStructure();
    return argument;
}

// The D-Bus signature of a value read off the wire.
QString signatureOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return value.value<QDBusArgument>().currentSignature();
    return QString::fromLatin1(QDBusMetaType::typeToSignature(value.metaType()));
}

} // namespace

Q_DECLARE_METATYPE(HostEvent)

class TestStatusItem : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void registersWithTheWatcherInsteadOfATrayIcon();
    void propertiesAsAHostReadsThem();
    void introspectionMatchesWhatIsSent_data();
    void introspectionMatchesWhatIsSent();
    void iconPixelsInNetworkByteOrder();
    void iconAndToolTipChangesAreSignalled();
    void labelsShowAsWritten_data();
    void labelsShowAsWritten();
    void layoutDepthAndProperties_data();
    void layoutDepthAndProperties();
    void unknownItemsAreErrors_data();
    void unknownItemsAreErrors();
    void clickPicksTheItem_data();
    void clickPicksTheItem();
    void openHostMenuHoldsBackANewMenu_data();
    void openHostMenuHoldsBackANewMenu();
    void showingAgainAppliesAHeldBackMenu_data() { openHostMenuHoldsBackANewMenu_data(); }
    void showingAgainAppliesAHeldBackMenu();
    void clickAfterCloseMeansTheItemTheHostShowed();
    void unchangedMenuKeepsTheRevision();
    void activationOpensNoWindowOffX11_data();
    void activationOpensNoWindowOffX11();
    void watcherThatAppearsLaterTakesTheItem();
    void restartedWatcherIsToldAgain();

private:
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});
    QVariantMap properties(const QString& path, const QString& interface);
    std::pair<uint, Node> layout(int parent = 0, int depth = -1, const QStringList& names = {});
    QStringList itemNamesOnTheBus();
    void startWatcher();
    void stopWatcher();
    void watchSignals(bool on);
    QDBusMessage showMenu(const QString& method);
    StatusItem* makeItem(const Menu& menu);

    QProcess daemon_;
    QString address_;
    FakeWatcher watcher_;
    SignalLog log_;
    std::unique_ptr<StatusItem> item_;
    QString service_; // the item's name on the bus
};

void TestStatusItem::initTestCase() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty())
        QSKIP("dbus-daemon is not installed");
    qDBusRegisterMetaType<HostEvent>();
    qDBusRegisterMetaType<QList<HostEvent>>();
    daemon_.setProgram(program);
    daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address")});
    // The daemon goes with the test, however the test ends.
    daemon_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    daemon_.start();
    QVERIFY2(daemon_.waitForStarted(), qPrintable(daemon_.errorString()));
    while (!daemon_.canReadLine())
        QVERIFY2(daemon_.waitForReadyRead(), "dbus-daemon printed no address");
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    // StatusItem talks to the session bus; from here on that is ours.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    QVERIFY(QDBusConnection::sessionBus().isConnected());

    QDBusConnection watcherBus = QDBusConnection::connectToBus(address_, QStringLiteral("watcher"));
    QDBusConnection host = QDBusConnection::connectToBus(address_, QStringLiteral("host"));
    QVERIFY(watcherBus.isConnected() && host.isConnected());
    QVERIFY(watcherBus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher_,
                                      QDBusConnection::ExportAllSlots));
}

void TestStatusItem::init() {
    watcher_.registered.clear();
    log_.layoutRevisions.clear();
    log_.newIcon = 0;
    log_.newToolTip = 0;
    startWatcher();
}

void TestStatusItem::cleanup() {
    watchSignals(false);
    item_.reset();
    service_.clear();
    stopWatcher();
}

void TestStatusItem::cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    QDBusConnection::disconnectFromBus(QStringLiteral("host"));
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        daemon_.waitForFinished();
    }
}

void TestStatusItem::startWatcher() {
    QVERIFY(QDBusConnection(QStringLiteral("watcher")).registerService(watcherName));
}

void TestStatusItem::stopWatcher() {
    QDBusConnection(QStringLiteral("watcher")).unregisterService(watcherName);
}

// Calls from the host connection. The item answers from this thread's event loop, so the call
// must keep that loop running while it waits.
QDBusMessage TestStatusItem::call(const QString& path, const QString& interface,
                                  const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service_, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection(QStringLiteral("host")).call(message, QDBus::BlockWithGui);
}

QVariantMap TestStatusItem::properties(const QString& path, const QString& interface) {
    const QDBusMessage reply =
        call(path, propertiesInterface, QStringLiteral("GetAll"), {interface});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning() << reply.errorMessage();
        return {};
    }
    return qdbus_cast<QVariantMap>(reply.arguments().at(0));
}

std::pair<uint, Node> TestStatusItem::layout(int parent, int depth, const QStringList& names) {
    const QDBusMessage reply = call(QStringLiteral("/MenuBar"), menuInterface,
                                    QStringLiteral("GetLayout"), {parent, depth, names});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        qWarning() << reply.errorMessage();
        return {};
    }
    return {reply.arguments().at(0).toUInt(),
            readNode(reply.arguments().at(1).value<QDBusArgument>())};
}

QStringList TestStatusItem::itemNamesOnTheBus() {
    const QStringList names =
        QDBusConnection(QStringLiteral("host")).interface()->registeredServiceNames().value();
    return names.filter(QRegularExpression(QStringLiteral("^org\\.kde\\.StatusNotifierItem-")));
}

// Connects the log to the signals of the item named service_, or disconnects it.
void TestStatusItem::watchSignals(bool on) {
    if (service_.isEmpty())
        return;
    QDBusConnection host(QStringLiteral("host"));
    const auto wire = [&](const QString& path, const QString& interface, const QString& name,
                          const char* slot) {
        return on ? host.connect(service_, path, interface, name, &log_, slot)
                  : host.disconnect(service_, path, interface, name, &log_, slot);
    };
    QVERIFY(wire(QStringLiteral("/MenuBar"), menuInterface, QStringLiteral("LayoutUpdated"),
                 SLOT(layoutUpdated(uint, int))));
    QVERIFY(wire(itemPath, itemInterface, QStringLiteral("NewIcon"), SLOT(iconChanged())));
    QVERIFY(wire(itemPath, itemInterface, QStringLiteral("NewToolTip"), SLOT(toolTipChanged())));
}

// An item with an image and `menu`, registered with the watcher; service_ is its name.
StatusItem* TestStatusItem::makeItem(const Menu& menu) {
    item_ = std::make_unique<StatusItem>();
    item_->setToolTip(QStringLiteral("Quillnest"));
    item_->setMenu(menu);
    item_->setImage(dotIcon(StatusColor::Green));
    const bool registered = QTest::qWaitFor([this] { return !watcher_.registered.isEmpty(); });
    if (registered) {
        service_ = watcher_.registered.constFirst();
        watchSignals(true);
    }
    return item_.get();
}

void TestStatusItem::registersWithTheWatcherInsteadOfATrayIcon() {
    StatusItem* statusItem = makeItem(menuWith({}));
    QCOMPARE(watcher_.registered.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^org\\.kde\\.StatusNotifierItem-%1-\\d+$")
                                    .arg(QCoreApplication::applicationPid()))
                 .match(service_)
                 .hasMatch(),
             qPrintable(service_));
    QCOMPARE(itemNamesOnTheBus(), QStringList{service_});
    QVERIFY(statusItem->findChildren<QSystemTrayIcon*>().isEmpty());

    item_.reset();
    QVERIFY(itemNamesOnTheBus().isEmpty());
}

void TestStatusItem::propertiesAsAHostReadsThem() {
    makeItem(menuWith({}));
    QVERIFY(!service_.isEmpty());
    const QVariantMap shown = properties(itemPath, itemInterface);
    QCOMPARE(shown.value(QStringLiteral("Category")).toString(),
             QStringLiteral("ApplicationStatus"));
    QCOMPARE(shown.value(QStringLiteral("Id")).toString(), QStringLiteral("quillnest-bar"));
    QCOMPARE(shown.value(QStringLiteral("Title")).toString(), QStringLiteral("Quillnest"));
    QCOMPARE(shown.value(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    QCOMPARE(shown.value(QStringLiteral("WindowId")), QVariant(0));
    QCOMPARE(shown.value(QStringLiteral("IconName")).toString(), QString());
    QCOMPARE(shown.value(QStringLiteral("ItemIsMenu")), QVariant(true));
    const auto menuPath = shown.value(QStringLiteral("Menu")).value<QDBusObjectPath>();
    QCOMPARE(menuPath.path(), QStringLiteral("/MenuBar"));

    const QDBusArgument toolTip = shown.value(QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString iconName, title, description;
    toolTip.beginStructure();
    toolTip >> iconName;
    readImages(toolTip);
    toolTip >> title >> description;
    toolTip.endStructure();
    QCOMPARE(title, QStringLiteral("Quillnest"));

    const QList<Image> images =
        readImages(shown.value(QStringLiteral("IconPixmap")).value<QDBusArgument>());
    QList<int> sizes;
    for (const Image& image : images) {
        QCOMPARE(image.height, image.width);
        QCOMPARE(image.argb.size(), qsizetype(image.width) * image.height * 4);
        bool painted = false; // some pixel with alpha
        for (qsizetype i = 0; i < image.argb.size(); i += 4)
            painted = painted || image.argb[i] != 0;
        QVERIFY2(painted, qPrintable(QString::number(image.width)));
        sizes.append(image.width);
    }
    for (int size : {16, 22, 24, 32, 48})
        QVERIFY2(sizes.contains(size), qPrintable(QString::number(size)));

    // The menu object answers on the path the item names.
    const QVariantMap menu = properties(menuPath.path(), menuInterface);
    QCOMPARE(menu.value(QStringLiteral("Version")), QVariant(3u));
    QCOMPARE(menu.value(QStringLiteral("TextDirection")).toString(), QStringLiteral("ltr"));
    QCOMPARE(menu.value(QStringLiteral("Status")).toString(), QStringLiteral("normal"));
    QCOMPARE(menu.value(QStringLiteral("IconThemePath")).toStringList(), QStringList());
}

void TestStatusItem::introspectionMatchesWhatIsSent_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QStringList>("members"); // methods and signals that must be declared
    QTest::newRow("item") << itemPath << itemInterface
                          << QStringList{
                                 QStringLiteral("Activate"),    QStringLiteral("SecondaryActivate"),
                                 QStringLiteral("ContextMenu"), QStringLiteral("Scroll"),
                                 QStringLiteral("NewIcon"),     QStringLiteral("NewToolTip")};
    QTest::newRow("menu") << QStringLiteral("/MenuBar") << menuInterface
                          << QStringList{QStringLiteral("GetLayout"),
                                         QStringLiteral("GetGroupProperties"),
                                         QStringLiteral("GetProperty"),
                                         QStringLiteral("Event"),
                                         QStringLiteral("EventGroup"),
                                         QStringLiteral("AboutToShow"),
                                         QStringLiteral("AboutToShowGroup"),
                                         QStringLiteral("LayoutUpdated"),
                                         QStringLiteral("ItemsPropertiesUpdated"),
                                         QStringLiteral("ItemActivationRequested")};
}

// Every property the XML declares is sent with the declared signature, and nothing undeclared is
// sent; hosts that build proxies from the XML depend on both.
void TestStatusItem::introspectionMatchesWhatIsSent() {
    QFETCH(QString, path);
    QFETCH(QString, interface);
    QFETCH(QStringList, members);
    makeItem(menuWith({}));
    const QDBusMessage reply = call(path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                    QStringLiteral("Introspect"));
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);

    QMap<QString, QString> declared; // property -> type
    QStringList declaredMembers;
    bool inInterface = false;
    QXmlStreamReader xml(reply.arguments().at(0).toString());
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("interface"))
            inInterface = xml.attributes().value(QLatin1String("name")) == interface;
        else if (xml.isEndElement() && xml.name() == QLatin1String("interface"))
            inInterface = false;
        else if (inInterface && xml.isStartElement() && xml.name() == QLatin1String("property"))
            declared.insert(xml.attributes().value(QLatin1String("name")).toString(),
                            xml.attributes().value(QLatin1String("type")).toString());
        else if (inInterface && xml.isStartElement() &&
                 (xml.name() == QLatin1String("method") || xml.name() == QLatin1String("signal")))
            declaredMembers.append(xml.attributes().value(QLatin1String("name")).toString());
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    for (const QString& member : members)
        QVERIFY2(declaredMembers.contains(member), qPrintable(member));

    const QVariantMap sent = properties(path, interface);
    QCOMPARE(sent.keys(), declared.keys());
    for (auto it = sent.cbegin(); it != sent.cend(); ++it)
        QCOMPARE(it.key() + QLatin1Char(' ') + signatureOf(it.value()),
                 it.key() + QLatin1Char(' ') + declared.value(it.key()));
}

// A wide, opaque icon lands centred in the square images, as A, R, G, B bytes.
void TestStatusItem::iconPixelsInNetworkByteOrder() {
    makeItem(menuWith({}));
    QPixmap wide(256, 128); // larger than every image: a pixmap icon is never scaled up
    wide.fill(QColor(0x12, 0x34, 0x56));
    item_->setImage(QIcon(wide));
    const QList<Image> images = readImages(properties(itemPath, itemInterface)
                                               .value(QStringLiteral("IconPixmap"))
                                               .value<QDBusArgument>());
    QVERIFY(!images.isEmpty());
    for (const Image& image : images) {
        const auto pixel = [&](int x, int y) {
            return image.argb.mid((qsizetype(y) * image.width + x) * 4, 4);
        };
        const int size = image.width;
        QCOMPARE(pixel(size / 2, size / 2), QByteArray::fromHex("ff123456"));
        QCOMPARE(pixel(0, size / 2), QByteArray::fromHex("ff123456"));
        QCOMPARE(pixel(size / 2, 0).at(0), '\0'); // transparent above the icon
        QCOMPARE(pixel(size - 1, size - 1).at(0), '\0');
    }
}

void TestStatusItem::iconAndToolTipChangesAreSignalled() {
    makeItem(menuWith({}));
    QVERIFY(!service_.isEmpty());
    item_->setImage(dotIcon(StatusColor::Green)); // the same pixels: nothing to tell
    item_->setImage(dotIcon(StatusColor::Red));
    QTRY_COMPARE(log_.newIcon, 1);

    const QString tip = QStringLiteral("R&D <b>x</b> my_project Ёлка");
    item_->setToolTip(tip);
    item_->setToolTip(tip);
    QTRY_COMPARE(log_.newToolTip, 1);
    const QDBusArgument toolTip =
        properties(itemPath, itemInterface).value(QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString iconName, title;
    toolTip.beginStructure();
    toolTip >> iconName;
    readImages(toolTip);
    toolTip >> title;
    QCOMPARE(title, tip);
    QCOMPARE(log_.newIcon, 1);
}

void TestStatusItem::labelsShowAsWritten_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("label");
    QTest::newRow("underscore") << QStringLiteral("my_project") << QStringLiteral("my__project");
    QTest::newRow("double underscore")
        << QStringLiteral("snake__case_2") << QStringLiteral("snake____case__2");
    QTest::newRow("ampersand and angle bracket")
        << QStringLiteral("R&D <x>") << QStringLiteral("R&D <x>");
    QTest::newRow("Cyrillic") << QStringLiteral("Ёлка") << QStringLiteral("Ёлка");
    QTest::newRow("quotes") << QStringLiteral("'q' \"d\"") << QStringLiteral("'q' \"d\"");
    QTest::newRow("markup") << QStringLiteral("<b>x</b> &amp;") << QStringLiteral("<b>x</b> &amp;");
}

// A title shows as written both as a project in the submenu and as a top-level item.
void TestStatusItem::labelsShowAsWritten() {
    QFETCH(QString, title);
    QFETCH(QString, label);
    Menu menu = menuWith({QStringLiteral("other"), title});
    menu.insert(menu.begin(), item(title));
    makeItem(menu);
    const Node root = layout().second;
    QCOMPARE(int(root.children.size()), int(menu.size()));
    QCOMPARE(root.children[0].label(), label);
    const Node* master = findLabel(root, QStringLiteral("Open master file"));
    QVERIFY(master);
    QCOMPARE(int(master->children.size()), 2);
    QCOMPARE(master->children[1].label(), label);
    QCOMPARE(master->properties.value(QStringLiteral("children-display")).toString(),
             QStringLiteral("submenu"));
}

void TestStatusItem::layoutDepthAndProperties_data() {
    QTest::addColumn<int>("parent");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("children");      // of the answered item
    QTest::addColumn<int>("grandchildren"); // under its children, all told
    QTest::addColumn<QStringList>("keys");  // of the first child
    const QStringList all{QStringLiteral("enabled"), QStringLiteral("label"),
                          QStringLiteral("visible")};
    QTest::newRow("everything") << 0 << -1 << QStringList() << 7 << 2 << all;
    QTest::newRow("the root alone") << 0 << 0 << QStringList() << 0 << 0 << QStringList();
    QTest::newRow("one level") << 0 << 1 << QStringList() << 7 << 0 << all;
    QTest::newRow("labels only") << 0 << -1 << QStringList{QStringLiteral("label")} << 7 << 2
                                 << QStringList{QStringLiteral("label")};
    QTest::newRow("the submenu") << 5 << -1 << QStringList() << 2 << 0 << all;
}

void TestStatusItem::layoutDepthAndProperties() {
    QFETCH(int, parent);
    QFETCH(int, depth);
    QFETCH(QStringList, names);
    QFETCH(int, children);
    QFETCH(int, grandchildren);
    QFETCH(QStringList, keys);
    makeItem(menuWith({QStringLiteral("a"), QStringLiteral("b")}));
    const Node node = layout(parent, depth, names).second;
    QCOMPARE(node.id, parent);
    QCOMPARE(int(node.children.size()), children);
    int below = 0;
    for (const Node& child : node.children)
        below += int(child.children.size());
    QCOMPARE(below, grandchildren);
    if (children > 0)
        QCOMPARE(node.children[0].properties.keys(), keys);
}

void TestStatusItem::unknownItemsAreErrors_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantList>("arguments");
    QTest::newRow("GetLayout") << QStringLiteral("GetLayout")
                               << QVariantList{99, -1, QStringList()};
    QTest::newRow("GetProperty of an unknown item")
        << QStringLiteral("GetProperty") << QVariantList{99, QStringLiteral("label")};
    QTest::newRow("GetProperty of an unknown property")
        << QStringLiteral("GetProperty") << QVariantList{1, QStringLiteral("icon-data")};
    QTest::newRow("Event") << QStringLiteral("Event")
                           << QVariantList{-4, QStringLiteral("clicked"),
                                           QVariant::fromValue(QDBusVariant(0)), 0u};
    QTest::newRow("AboutToShow") << QStringLiteral("AboutToShow") << QVariantList{99};
}

// Bad ids are answered with an error, and the item goes on serving.
void TestStatusItem::unknownItemsAreErrors() {
    QFETCH(QString, method);
    QFETCH(QVariantList, arguments);
    makeItem(menuWith({}));
    const QDBusMessage reply = call(QStringLiteral("/MenuBar"), menuInterface, method, arguments);
    QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
    QCOMPARE(int(layout().second.children.size()), 7);
    QVERIFY(!item_->isMenuOpen());
}

void TestStatusItem::clickPicksTheItem_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("grouped"); // sent through EventGroup
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("represented");
    QTest::newRow("Sync now") << QStringLiteral("Sync now") << false << int(Action::SyncNow)
                              << QString();
    QTest::newRow("Sync now in a group")
        << QStringLiteral("Sync now") << true << int(Action::SyncNow) << QString();
    QTest::newRow("watch item") << QStringLiteral("Watch for changes") << false
                                << int(Action::ToggleWatch) << QString();
    QTest::newRow("project with underscore")
        << QStringLiteral("my__project") << false << int(Action::OpenMaster)
        << QStringLiteral("/home/u/my_project/");
}

// One click, one activation; clicks on the info item and the submenu item do nothing, and they
// are sent first so that their activations, if any, would come first.
void TestStatusItem::clickPicksTheItem() {
    QFETCH(QString, label);
    QFETCH(bool, grouped);
    QFETCH(int, action);
    QFETCH(QString, represented);
    makeItem(menuWith({QStringLiteral("my_project")}));
    QSignalSpy picked(item_.get(), &StatusItem::activated);
    const Node root = layout().second;
    const Node* target = findLabel(root, label);
    QVERIFY(target);
    const QVariant noData = QVariant::fromValue(QDBusVariant(QString()));
    for (const QString& dead :
         {QStringLiteral("All rules in sync and clean"), QStringLiteral("Open master file")}) {
        const QDBusMessage reply =
            call(QStringLiteral("/MenuBar"), menuInterface, QStringLiteral("Event"),
                 {findLabel(root, dead)->id, QStringLiteral("clicked"), noData, 0u});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    }
    QDBusMessage reply;
    if (grouped) {
        const QList<HostEvent> events{{target->id, QStringLiteral("clicked")}};
        reply = call(QStringLiteral("/MenuBar"), menuInterface, QStringLiteral("EventGroup"),
                     {QVariant::fromValue(events)});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(qdbus_cast<QList<int>>(reply.arguments().at(0)), QList<int>());
    } else {
        reply = call(QStringLiteral("/MenuBar"), menuInterface, QStringLiteral("Event"),
                     {target->id, QStringLiteral("clicked"), noData, 0u});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    }
    QTRY_COMPARE(picked.size(), 1);
    QCOMPARE(picked[0][0].value<Action>(), Action(action));
    QCOMPARE(picked[0][1].toString(), represented);
    layout(); // one more round trip: still one
    QCOMPARE(picked.size(), 1);
}

void TestStatusItem::openHostMenuHoldsBackANewMenu_data() {
    QTest::addColumn<QString>("method"); // how the host says the menu opens
    QTest::newRow("opened event") << QStringLiteral("Event");
    QTest::newRow("opened in an event group") << QStringLiteral("EventGroup");
    QTest::newRow("AboutToShow") << QStringLiteral("AboutToShow");
    QTest::newRow("AboutToShowGroup") << QStringLiteral("AboutToShowGroup");
}

// Tells the item that the host shows its menu, in one of the ways hosts do.
QDBusMessage TestStatusItem::showMenu(const QString& method) {
    const QString menuPath = QStringLiteral("/MenuBar");
    if (method == QLatin1String("Event"))
        return call(
            menuPath, menuInterface, method,
            {0, QStringLiteral("opened"), QVariant::fromValue(QDBusVariant(QString())), 0u});
    if (method == QLatin1String("EventGroup"))
        return call(menuPath, menuInterface, method,
                    {QVariant::fromValue(QList<HostEvent>{{0, QStringLiteral("opened")}})});
    if (method == QLatin1String("AboutToShow"))
        return call(menuPath, menuInterface, method, {0});
    return call(menuPath, menuInterface, method, {QVariant::fromValue(QList<int>{0})});
}

void TestStatusItem::openHostMenuHoldsBackANewMenu() {
    QFETCH(QString, method);
    makeItem(menuWith({QStringLiteral("before")}));
    QSignalSpy closed(item_.get(), &StatusItem::menuClosed);
    const uint revision = layout().first;
    const QString menuPath = QStringLiteral("/MenuBar");
    const QVariant noData = QVariant::fromValue(QDBusVariant(QString()));
    QDBusMessage reply = showMenu(method);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    if (method == QLatin1String("AboutToShow"))
        QCOMPARE(reply.arguments().at(0), QVariant(false)); // nothing new to read
    QVERIFY(item_->isMenuOpen());

    item_->setMenu(menuWith({QStringLiteral("after")}));
    QCOMPARE(item_->menu()->at(4).submenu.front().title, QStringLiteral("after"));
    const auto [during, shown] = layout();
    QCOMPARE(during, revision);
    QVERIFY(findLabel(shown, QStringLiteral("before")));
    QCOMPARE(closed.size(), 0);

    reply = call(menuPath, menuInterface, QStringLiteral("Event"),
                 {0, QStringLiteral("closed"), noData, 0u});
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QTRY_COMPARE(closed.size(), 1);
    QVERIFY(!item_->isMenuOpen());
    const auto [after, updated] = layout();
    QCOMPARE(after, revision + 1);
    QVERIFY(findLabel(updated, QStringLiteral("after")));
    QTRY_VERIFY(log_.layoutRevisions.contains(after));
    QCOMPARE(log_.layoutRevisions.count(after), 1);
    QVERIFY(!log_.layoutRevisions.contains(after + 1));
}

// GTK hosts send "closed" before the "clicked" of the item that closed the menu, so the click can
// arrive after the held-back menu has been applied. It still means the item the host showed.
// A host that shows the menu again without having said "closed" (a panel that restarted while
// it was open) gets the held-back menu before it reads the layout.
void TestStatusItem::showingAgainAppliesAHeldBackMenu() {
    QFETCH(QString, method);
    makeItem(menuWith({QStringLiteral("before")}));
    const uint revision = layout().first;
    QCOMPARE(showMenu(QStringLiteral("Event")).type(), QDBusMessage::ReplyMessage);
    item_->setMenu(menuWith({QStringLiteral("after")}));
    QCOMPARE(layout().first, revision);

    const QDBusMessage reply = showMenu(method);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    if (method == QLatin1String("AboutToShow"))
        QCOMPARE(reply.arguments().at(0), QVariant(true));
    if (method == QLatin1String("AboutToShowGroup"))
        QCOMPARE(qdbus_cast<QList<int>>(reply.arguments().at(0)), QList<int>{0});
    const auto [now, shown] = layout();
    QCOMPARE(now, revision + 1);
    QVERIFY(findLabel(shown, QStringLiteral("after")));
    QVERIFY(item_->isMenuOpen());
}

void TestStatusItem::clickAfterCloseMeansTheItemTheHostShowed() {
    const Menu shown = menuWith({});
    Menu next = shown;
    next.erase(next.begin() + 2); // "Sync now" goes; "Watch for changes" moves to its place
    makeItem(shown);
    QSignalSpy picked(item_.get(), &StatusItem::activated);
    QSignalSpy closed(item_.get(), &StatusItem::menuClosed);
    const int syncId = findLabel(layout().second, QStringLiteral("Sync now"))->id;
    const QString menuPath = QStringLiteral("/MenuBar");
    const QVariant noData = QVariant::fromValue(QDBusVariant(QString()));
    call(menuPath, menuInterface, QStringLiteral("Event"),
         {0, QStringLiteral("opened"), noData, 0u});
    item_->setMenu(next);
    call(menuPath, menuInterface, QStringLiteral("Event"),
         {0, QStringLiteral("closed"), noData, 0u});
    QTRY_COMPARE(closed.size(), 1);
    call(menuPath, menuInterface, QStringLiteral("Event"),
         {syncId, QStringLiteral("clicked"), noData, 0u});
    QTRY_COMPARE(picked.size(), 1);
    QCOMPARE(picked[0][0].value<Action>(), Action::SyncNow);

    // Once the host has fetched the new layout, the id is that of the item now in the place.
    QCOMPARE(findLabel(layout().second, QStringLiteral("Watch for changes"))->id, syncId);
    call(menuPath, menuInterface, QStringLiteral("Event"),
         {syncId, QStringLiteral("clicked"), noData, 0u});
    QTRY_COMPARE(picked.size(), 2);
    QCOMPARE(picked[1][0].value<Action>(), Action::ToggleWatch);
}

void TestStatusItem::unchangedMenuKeepsTheRevision() {
    makeItem(menuWith({QStringLiteral("a")}));
    const uint revision = layout().first;
    item_->setMenu(menuWith({QStringLiteral("a")}));
    QCOMPARE(layout().first, revision);
    item_->setMenu(menuWith({QStringLiteral("a"), QStringLiteral("b")}));
    QCOMPARE(layout().first, revision + 1);
}

void TestStatusItem::activationOpensNoWindowOffX11_data() {
    QTest::addColumn<QString>("method");
    QTest::newRow("Activate") << QStringLiteral("Activate");
    QTest::newRow("ContextMenu") << QStringLiteral("ContextMenu");
    QTest::newRow("SecondaryActivate") << QStringLiteral("SecondaryActivate");
}

// The tests run on the offscreen platform, which stands for every platform but X11 here.
void TestStatusItem::activationOpensNoWindowOffX11() {
    QFETCH(QString, method);
    makeItem(menuWith({}));
    const QDBusMessage reply = call(itemPath, itemInterface, method, {10, 10});
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QVERIFY(!item_->isMenuOpen());
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
}

// Without a watcher the item takes the QSystemTrayIcon path (on offscreen: no tray, so it waits
// for one); a watcher that appears then gets the item.
void TestStatusItem::watcherThatAppearsLaterTakesTheItem() {
    stopWatcher();
    item_ = std::make_unique<StatusItem>();
    item_->setMenu(menuWith({}));
    item_->setImage(dotIcon(StatusColor::Gray));
    QVERIFY(itemNamesOnTheBus().isEmpty());

    startWatcher();
    QTRY_COMPARE(watcher_.registered.size(), 1);
    service_ = watcher_.registered.constFirst();
    watchSignals(true);
    QCOMPARE(itemNamesOnTheBus(), QStringList{service_});
    QVERIFY(item_->findChildren<QSystemTrayIcon*>().isEmpty());
    QCOMPARE(int(layout().second.children.size()), 7);
}

void TestStatusItem::restartedWatcherIsToldAgain() {
    makeItem(menuWith({}));
    QCOMPARE(watcher_.registered.size(), 1);
    stopWatcher();
    startWatcher();
    QTRY_COMPARE(watcher_.registered.size(), 2);
    QCOMPARE(watcher_.registered[1], service_);
    QCOMPARE(itemNamesOnTheBus(), QStringList{service_});
}

QTEST_MAIN(TestStatusItem)
#include "test_status_item.moc"
