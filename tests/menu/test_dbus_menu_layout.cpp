#include "menu/dbus_menu_layout.h"
#include "support/menu_item.h"

#include <QTest>

Q_DECLARE_METATYPE(quillnest::MenuItem)
Q_DECLARE_METATYPE(quillnest::Menu)

using namespace quillnest;
using namespace quillnest::test;

namespace {

MenuItem submenu(int projects) {
    MenuItem entry = item(QStringLiteral("Open master file"));
    entry.name = QStringLiteral("master");
    entry.hasSubmenu = true;
    for (int i = 0; i < projects; ++i)
        entry.submenu.push_back(item(QString::number(i), Action::OpenMaster));
    return entry;
}

// What GNOME Shell's AppIndicator extension shows for a label: label.replace(/_([^_])/, '$1').
QString shownByFirstUnderscoreRemoved(QString label) {
    for (qsizetype i = 0; i + 1 < label.size(); ++i) {
        if (label.at(i) == u'_' && label.at(i + 1) != u'_')
            return label.remove(i, 1);
    }
    return label;
}

// The ids of the items whose properties change, with the names of the changed and removed ones,
// e.g. "3:label,toggle-state-shortcut"; "layout" when the structure changes.
QString describe(const std::optional<std::vector<DBusMenuPropertyChange>>& changes) {
    if (!changes)
        return QStringLiteral("layout");
    QStringList parts;
    for (const DBusMenuPropertyChange& change : *changes)
        parts.append(QStringLiteral("%1:%2%3").arg(change.id).arg(
            change.updated.keys().join(QLatin1Char(',')),
            change.removed.isEmpty() ? QString()
                                     : QLatin1Char('-') + change.removed.join(QLatin1Char(','))));
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestDBusMenuLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labelsShowAsWritten_data();
    void labelsShowAsWritten();
    void itemProperties_data();
    void itemProperties();
    void idsFollowNames_data();
    void idsFollowNames();
    void changesTold_data();
    void changesTold();
};

void TestDBusMenuLayout::labelsShowAsWritten_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("gnome"); // for the host that removes the first '_' only
    QTest::newRow("underscore") << QStringLiteral("my_project") << QStringLiteral("my__project")
                                << QStringLiteral("my__project");
    QTest::newRow("last") << QStringLiteral("x_") << QStringLiteral("x__") << QStringLiteral("x_");
    QTest::newRow("two") << QStringLiteral("snake__case_2") << QStringLiteral("snake____case__2")
                         << QStringLiteral("snake___case_2");
    QTest::newRow("at both ends") << QStringLiteral("_x_") << QStringLiteral("__x__")
                                  << QStringLiteral("__x_");
    QTest::newRow("markup") << QStringLiteral("R&D <x> &amp;") << QStringLiteral("R&D <x> &amp;")
                            << QStringLiteral("R&D <x> &amp;");
    QTest::newRow("quotes") << QStringLiteral("'q' \"d\"") << QStringLiteral("'q' \"d\"")
                            << QStringLiteral("'q' \"d\"");
    QTest::newRow("Cyrillic") << QStringLiteral("Ёлка_2") << QStringLiteral("Ёлка__2")
                              << QStringLiteral("Ёлка__2");
    QTest::newRow("outside the BMP")
        << QStringLiteral("a_😀") << QStringLiteral("a__😀") << QStringLiteral("a__😀");
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestDBusMenuLayout::labelsShowAsWritten() {
    QFETCH(QString, title);
    QFETCH(QString, label);
    QFETCH(QString, gnome);
    QCOMPARE(dbusMenuLabel(title), label);
    QCOMPARE(dbusMenuLabel(title, LabelStyle::FirstUnderscoreRemoved), gnome);
    QCOMPARE(shownByFirstUnderscoreRemoved(gnome), title);
}

void TestDBusMenuLayout::itemProperties_data() {
    QTest::addColumn<MenuItem>("entry");
    QTest::addColumn<QVariantMap>("extra"); // besides "visible", and "label" and "enabled"
    QTest::addColumn<bool>("enabled");
    MenuItem separator;
    separator.separator = true;
    QTest::newRow("separator") << separator
                               << QVariantMap{{QStringLiteral("type"), QStringLiteral("separator")}}
                               << false;
    QTest::newRow("info item") << item(QStringLiteral("info")) << QVariantMap() << false;
    MenuItem sync = item(QStringLiteral("Sync"), Action::SyncNow);
    sync.key = QStringLiteral("s");
    const QList<QStringList> ctrlS{{QStringLiteral("Control"), QStringLiteral("s")}};
    QTest::newRow("shortcut") << sync
                              << QVariantMap{{QStringLiteral("shortcut"),
                                              QVariant::fromValue(ctrlS)}}
                              << true;
    MenuItem watch = item(QStringLiteral("Watch"), Action::ToggleWatch);
    watch.checkable = true;
    watch.checked = true;
    QTest::newRow("watching") << watch
                              << QVariantMap{{QStringLiteral("toggle-type"),
                                              QStringLiteral("checkmark")},
                                             {QStringLiteral("toggle-state"), 1}}
                              << true;
    QTest::newRow("submenu") << submenu(0)
                             << QVariantMap{{QStringLiteral("children-display"),
                                             QStringLiteral("submenu")}}
                             << true;
}

// Names and D-Bus types exactly: a host reads "toggle-state" as an int, "enabled" as a boolean,
// and QVariant's == would let a bool pass for an int.
void TestDBusMenuLayout::itemProperties() {
    QFETCH(MenuItem, entry);
    QFETCH(QVariantMap, extra);
    QFETCH(bool, enabled);
    QVariantMap expected = extra;
    expected.insert(QStringLiteral("visible"), true);
    if (!entry.separator) {
        expected.insert(QStringLiteral("label"), entry.title);
        expected.insert(QStringLiteral("enabled"), enabled);
    }
    DBusMenuIds ids;
    const QVariantMap properties = DBusMenuTree({entry}, ids).find(1)->properties;
    QCOMPARE(properties.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QCOMPARE(properties[it.key()].metaType(), it.value().metaType());
        QCOMPARE(properties[it.key()], it.value());
    }
}

void TestDBusMenuLayout::idsFollowNames_data() {
    QTest::addColumn<int>("projects");
    QTest::newRow("none") << 0;
    QTest::newRow("ten thousand") << 10000;
}

// An item keeps its id while its name stays, wherever it moves; one that goes takes its id with
// it, and a new one never gets an id that was used.
void TestDBusMenuLayout::idsFollowNames() {
    QFETCH(int, projects);
    DBusMenuIds ids;
    MenuItem unnamed = item(QStringLiteral("x"));
    unnamed.name.clear();
    const DBusMenuTree first({item(QStringLiteral("info")), submenu(projects), unnamed,
                              item(QStringLiteral("Quit"), Action::Quit)},
                             ids);
    const int quit = first.root().children[3];
    QCOMPARE(first.find(quit)->action, Action::Quit);
    QVERIFY(first.find(quit)->live && !first.find(first.root().children[0])->live);
    QCOMPARE(int(first.nodes().size()), 5 + projects);

    const DBusMenuTree second({submenu(projects + 1), item(QStringLiteral("Quit"), Action::Quit),
                               item(QStringLiteral("new"))},
                              ids);
    QCOMPARE(second.root().children[1], quit);
    QCOMPARE(second.root().children[0], first.root().children[1]);
    QVERIFY(!second.find(first.root().children[0]));
    for (const DBusMenuNode& node : second.nodes()) {
        const DBusMenuNode* before = first.find(node.id);
        QVERIFY(!before || before->properties.value(QStringLiteral("label")) ==
                               node.properties.value(QStringLiteral("label")));
    }
}

void TestDBusMenuLayout::changesTold_data() {
    QTest::addColumn<Menu>("before");
    QTest::addColumn<Menu>("after");
    QTest::addColumn<QString>("changes");
    const MenuItem sync = item(QStringLiteral("sync"), Action::SyncNow);
    MenuItem watch = item(QStringLiteral("watch"), Action::ToggleWatch);
    watch.checkable = true;
    const Menu base{sync, watch, submenu(1)};
    QTest::newRow("nothing") << base << base << QString();
    Menu syncing = base;
    syncing[0].title = QStringLiteral("Syncing…");
    syncing[0].action = Action::None;
    QTest::newRow("title and enabled") << base << syncing << QStringLiteral("1:enabled,label");
    Menu watching = base;
    watching[1].checked = true;
    QTest::newRow("check mark") << base << watching << QStringLiteral("2:toggle-state");
    Menu keyed = base;
    keyed[0].key = QStringLiteral("s");
    QTest::newRow("shortcut gone") << keyed << base << QStringLiteral("1:-shortcut");
    Menu more = base;
    more.push_back(item(QStringLiteral("conflicts"), Action::OpenConflicts));
    QTest::newRow("item added") << base << more << QStringLiteral("layout");
    Menu projects = base;
    projects[2] = submenu(2);
    QTest::newRow("project added") << base << projects << QStringLiteral("layout");
    Menu swapped{watch, sync, submenu(1)};
    QTest::newRow("moved") << base << swapped << QStringLiteral("layout");
}

void TestDBusMenuLayout::changesTold() {
    QFETCH(Menu, before);
    QFETCH(Menu, after);
    QFETCH(QString, changes);
    DBusMenuIds ids;
    const DBusMenuTree from(before, ids);
    QCOMPARE(describe(propertyChanges(from, DBusMenuTree(after, ids))), changes);
}

QTEST_GUILESS_MAIN(TestDBusMenuLayout)
#include "test_dbus_menu_layout.moc"
