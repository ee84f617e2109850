#include "platform/dbus_menu_layout.h"

#include <QTest>

Q_DECLARE_METATYPE(quillnest::MenuItem)

using namespace quillnest;

namespace {

MenuItem item(const QString& title, Action action = Action::None) {
    MenuItem entry;
    entry.title = title;
    entry.action = action;
    return entry;
}

MenuItem separator() {
    MenuItem entry;
    entry.separator = true;
    return entry;
}

MenuItem submenu(const QString& title, int projects) {
    MenuItem entry = item(title);
    entry.hasSubmenu = true;
    for (int i = 0; i < projects; ++i) {
        MenuItem project = item(QStringLiteral("project %1").arg(i), Action::OpenMaster);
        project.represented = QStringLiteral("/p/%1/").arg(i);
        entry.submenu.push_back(project);
    }
    return entry;
}

QStringList strings(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts)
        list.append(QString::fromUtf8(text));
    return list;
}

// What a dbusmenu host shows for a label: "__" is one '_', a lone '_' marks the next character as
// the mnemonic and is not shown.
QString shownByHost(const QString& label) {
    QString shown;
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label[i] == QLatin1Char('_')) {
            if (i + 1 < label.size() && label[i + 1] == QLatin1Char('_'))
                shown += label[++i];
            continue;
        }
        shown += label[i];
    }
    return shown;
}

// Equal keys, and each value equal in type as well as in value: a host reads "toggle-state" as an
// int and "enabled" as a boolean, and D-Bus keeps the difference that QVariant's == glosses over.
void compareProperties(const QVariantMap& actual, const QVariantMap& expected) {
    QCOMPARE(actual.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QCOMPARE(actual[it.key()].metaType(), it.value().metaType());
        QCOMPARE(actual[it.key()], it.value());
    }
}

} // namespace

class TestDBusMenuLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labelsShowAsWritten_data();
    void labelsShowAsWritten();
    void itemProperties_data();
    void itemProperties();
    void idsAreBreadthFirstPositions();
    void idsOfTopLevelItemsSurviveASubmenuOfAnySize_data();
    void idsOfTopLevelItemsSurviveASubmenuOfAnySize();
    void whatAClickDoes_data();
    void whatAClickDoes();
    void unknownIds_data();
    void unknownIds();
    void propertySelection_data();
    void propertySelection();
};

void TestDBusMenuLayout::labelsShowAsWritten_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("label");
    QTest::newRow("underscore") << QStringLiteral("my_project") << QStringLiteral("my__project");
    QTest::newRow("double underscore")
        << QStringLiteral("snake__case_2") << QStringLiteral("snake____case__2");
    QTest::newRow("underscores at both ends") << QStringLiteral("_x_") << QStringLiteral("__x__");
    QTest::newRow("only underscores") << QStringLiteral("___") << QStringLiteral("______");
    QTest::newRow("ampersand and markup") << QStringLiteral("R&D <x>") << QStringLiteral("R&D <x>");
    QTest::newRow("entities stay text")
        << QStringLiteral("&amp; &lt;b&gt;") << QStringLiteral("&amp; &lt;b&gt;");
    QTest::newRow("quotes") << QStringLiteral("'q' \"d\"") << QStringLiteral("'q' \"d\"");
    QTest::newRow("Cyrillic") << QStringLiteral("Ёлка") << QStringLiteral("Ёлка");
    QTest::newRow("Cyrillic with underscore") << QStringLiteral("ёж_2") << QStringLiteral("ёж__2");
    QTest::newRow("outside the BMP") << QStringLiteral("a_😀_b") << QStringLiteral("a__😀__b");
    QTest::newRow("empty") << QString() << QString();
}

void TestDBusMenuLayout::labelsShowAsWritten() {
    QFETCH(QString, title);
    QFETCH(QString, label);
    QCOMPARE(dbusMenuLabel(title), label);
    QCOMPARE(shownByHost(dbusMenuLabel(title)), title);
    const DBusMenuTree tree({item(title, Action::SyncNow)});
    QCOMPARE(tree.find(1)->properties.value(QStringLiteral("label")).toString(), label);
}

void TestDBusMenuLayout::itemProperties_data() {
    QTest::addColumn<MenuItem>("entry");
    QTest::addColumn<QVariantMap>("properties");
    const auto base = [](const QString& label, bool enabled) {
        return QVariantMap{{QStringLiteral("label"), label},
                           {QStringLiteral("enabled"), enabled},
                           {QStringLiteral("visible"), true}};
    };

    QTest::newRow("separator") << separator()
                               << QVariantMap{{QStringLiteral("type"), QStringLiteral("separator")},
                                              {QStringLiteral("visible"), true}};
    QTest::newRow("info item") << item(QStringLiteral("Last sync: now"))
                               << base(QStringLiteral("Last sync: now"), false);
    QTest::newRow("command") << item(QStringLiteral("Check"), Action::CheckNow)
                             << base(QStringLiteral("Check"), true);
    MenuItem cleared = item(QStringLiteral("Check"), Action::CheckNow);
    cleared.enabled = false;
    QTest::newRow("cleared flag wins") << cleared << base(QStringLiteral("Check"), false);

    MenuItem sync = item(QStringLiteral("Sync now"), Action::SyncNow);
    sync.key = QStringLiteral("s");
    QVariantMap syncProperties = base(QStringLiteral("Sync now"), true);
    syncProperties.insert(QStringLiteral("shortcut"),
                          QVariant::fromValue(QList<QStringList>{strings({"Control", "s"})}));
    QTest::newRow("shortcut") << sync << syncProperties;
    MenuItem busy = item(QStringLiteral("Syncing…"));
    busy.key = QStringLiteral("s");
    QVariantMap busyProperties = base(QStringLiteral("Syncing…"), false);
    busyProperties.insert(QStringLiteral("shortcut"),
                          QVariant::fromValue(QList<QStringList>{strings({"Control", "s"})}));
    QTest::newRow("shortcut of a busy command") << busy << busyProperties;

    for (bool checked : {false, true}) {
        MenuItem watch = item(QStringLiteral("Watch"), Action::ToggleWatch);
        watch.checked = checked;
        QVariantMap properties = base(QStringLiteral("Watch"), true);
        properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        properties.insert(QStringLiteral("toggle-state"), checked ? 1 : 0);
        QTest::newRow(checked ? "watching" : "not watching") << watch << properties;
    }

    QVariantMap parentProperties = base(QStringLiteral("Open master file"), true);
    parentProperties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    QTest::newRow("submenu") << submenu(QStringLiteral("Open master file"), 2) << parentProperties;
    QTest::newRow("empty submenu")
        << submenu(QStringLiteral("Open master file"), 0) << parentProperties;

    MenuItem project = item(QStringLiteral("site"), Action::OpenMaster);
    project.represented = QStringLiteral("/p/site/");
    project.toolTip = QStringLiteral("/p/site/"); // dbusmenu has no tooltips
    QTest::newRow("project") << project << base(QStringLiteral("site"), true);
}

void TestDBusMenuLayout::itemProperties() {
    QFETCH(MenuItem, entry);
    QFETCH(QVariantMap, properties);
    const DBusMenuTree tree({entry});
    compareProperties(tree.find(1)->properties, properties);
    compareProperties(tree.root().properties,
                      {{QStringLiteral("children-display"), QStringLiteral("submenu")}});
}

void TestDBusMenuLayout::idsAreBreadthFirstPositions() {
    const DBusMenuTree tree({item(QStringLiteral("a")), separator(),
                             submenu(QStringLiteral("m"), 3), item(QStringLiteral("b"))});
    QCOMPARE(tree.size(), 8);
    QCOMPARE(tree.root().children, (std::vector<int>{1, 2, 3, 4}));
    QCOMPARE(tree.find(3)->children, (std::vector<int>{5, 6, 7}));
    for (int id = 0; id < tree.size(); ++id)
        QCOMPARE(tree.find(id)->id, id);
    QCOMPARE(tree.find(1)->parent, 0);
    QCOMPARE(tree.find(6)->parent, 3);
    QCOMPARE(tree.find(6)->properties.value(QStringLiteral("label")).toString(),
             QStringLiteral("project 1"));
    QVERIFY(tree.find(2)->children.empty());
}

void TestDBusMenuLayout::idsOfTopLevelItemsSurviveASubmenuOfAnySize_data() {
    QTest::addColumn<int>("projects");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("ten thousand") << 10000;
}

void TestDBusMenuLayout::idsOfTopLevelItemsSurviveASubmenuOfAnySize() {
    QFETCH(int, projects);
    const DBusMenuTree tree({item(QStringLiteral("a")), submenu(QStringLiteral("m"), projects),
                             item(QStringLiteral("Quit"), Action::Quit)});
    QCOMPARE(tree.size(), 4 + projects);
    QCOMPARE(tree.find(3)->action, Action::Quit);
    QCOMPARE(int(tree.find(2)->children.size()), projects);
    if (projects > 0) {
        QCOMPARE(tree.find(4)->represented, QStringLiteral("/p/0/"));
        QCOMPARE(tree.find(3 + projects)->represented, QStringLiteral("/p/%1/").arg(projects - 1));
    }
}

void TestDBusMenuLayout::whatAClickDoes_data() {
    QTest::addColumn<MenuItem>("entry");
    QTest::addColumn<bool>("live");
    MenuItem project = item(QStringLiteral("site"), Action::OpenMaster);
    project.represented = QStringLiteral("/p/site/");
    QTest::newRow("project") << project << true;
    QTest::newRow("command") << item(QStringLiteral("Quit"), Action::Quit) << true;
    QTest::newRow("info item") << item(QStringLiteral("info")) << false;
    MenuItem cleared = item(QStringLiteral("Check"), Action::CheckNow);
    cleared.enabled = false;
    QTest::newRow("cleared flag") << cleared << false;
    QTest::newRow("submenu without action") << submenu(QStringLiteral("m"), 1) << false;
    QTest::newRow("separator") << separator() << false;
}

void TestDBusMenuLayout::whatAClickDoes() {
    QFETCH(MenuItem, entry);
    QFETCH(bool, live);
    const DBusMenuTree tree({entry});
    const DBusMenuNode* node = tree.find(1);
    QCOMPARE(node->live, live);
    QCOMPARE(node->action, entry.action);
    QCOMPARE(node->represented, entry.represented);
    QVERIFY(!tree.root().live);
}

void TestDBusMenuLayout::unknownIds_data() {
    QTest::addColumn<int>("id");
    QTest::newRow("negative") << -1;
    QTest::newRow("one past the end") << 3;
    QTest::newRow("huge") << std::numeric_limits<int>::max();
}

void TestDBusMenuLayout::unknownIds() {
    QFETCH(int, id);
    const DBusMenuTree tree({item(QStringLiteral("a")), item(QStringLiteral("b"))});
    QVERIFY(!tree.find(id));
    QVERIFY(DBusMenuTree().find(0));
    QVERIFY(!DBusMenuTree().find(1));
}

void TestDBusMenuLayout::propertySelection_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("none asked: all")
        << QStringList{} << strings({"enabled", "label", "shortcut", "visible"});
    QTest::newRow("some") << strings({"label", "visible"}) << strings({"label", "visible"});
    QTest::newRow("unknown names are left out")
        << strings({"icon-name", "label", "toggle-state"}) << strings({"label"});
}

void TestDBusMenuLayout::propertySelection() {
    QFETCH(QStringList, names);
    QFETCH(QStringList, kept);
    MenuItem sync = item(QStringLiteral("Sync"), Action::SyncNow);
    sync.key = QStringLiteral("s");
    const DBusMenuTree tree({sync});
    QCOMPARE(selectProperties(tree.find(1)->properties, names).keys(), kept);
}

QTEST_GUILESS_MAIN(TestDBusMenuLayout)
#include "test_dbus_menu_layout.moc"
