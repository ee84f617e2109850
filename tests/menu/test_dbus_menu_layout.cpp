#include "menu/dbus_menu_layout.h"
#include "support/menu_item.h"

#include <QTest>

Q_DECLARE_METATYPE(quillnest::MenuItem)

using namespace quillnest;
using namespace quillnest::test;

namespace {

MenuItem submenu(int projects) {
    MenuItem entry = item(QStringLiteral("Open master file"));
    entry.hasSubmenu = true;
    for (int i = 0; i < projects; ++i)
        entry.submenu.push_back(item(QString::number(i), Action::OpenMaster));
    return entry;
}

} // namespace

class TestDBusMenuLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labelsShowAsWritten_data();
    void labelsShowAsWritten();
    void itemProperties_data();
    void itemProperties();
    void topLevelIdsSurviveAnySubmenu_data();
    void topLevelIdsSurviveAnySubmenu();
};

void TestDBusMenuLayout::labelsShowAsWritten_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("label");
    QTest::newRow("underscore") << QStringLiteral("my_project") << QStringLiteral("my__project");
    QTest::newRow("two") << QStringLiteral("snake__case_2") << QStringLiteral("snake____case__2");
    QTest::newRow("at both ends") << QStringLiteral("_x_") << QStringLiteral("__x__");
    QTest::newRow("markup") << QStringLiteral("R&D <x> &amp;") << QStringLiteral("R&D <x> &amp;");
    QTest::newRow("quotes") << QStringLiteral("'q' \"d\"") << QStringLiteral("'q' \"d\"");
    QTest::newRow("Cyrillic") << QStringLiteral("Ёлка_2") << QStringLiteral("Ёлка__2");
    QTest::newRow("outside the BMP") << QStringLiteral("a_😀") << QStringLiteral("a__😀");
    QTest::newRow("empty") << QString() << QString();
}

void TestDBusMenuLayout::labelsShowAsWritten() {
    QFETCH(QString, title);
    QFETCH(QString, label);
    QCOMPARE(dbusMenuLabel(title), label);
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
    const QVariantMap properties = DBusMenuTree({entry}).find(1)->properties;
    QCOMPARE(properties.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QCOMPARE(properties[it.key()].metaType(), it.value().metaType());
        QCOMPARE(properties[it.key()], it.value());
    }
}

void TestDBusMenuLayout::topLevelIdsSurviveAnySubmenu_data() {
    QTest::addColumn<int>("projects");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("ten thousand") << 10000;
}

void TestDBusMenuLayout::topLevelIdsSurviveAnySubmenu() {
    QFETCH(int, projects);
    const DBusMenuTree tree({item(QStringLiteral("info")), submenu(projects),
                             item(QStringLiteral("Quit"), Action::Quit)});
    QCOMPARE(tree.root().children, (std::vector<int>{1, 2, 3}));
    QCOMPARE(tree.find(3)->action, Action::Quit);
    QVERIFY(tree.find(3)->live && !tree.find(1)->live && !tree.find(2)->live);
    QCOMPARE(int(tree.find(2)->children.size()), projects);
    for (int i = 0; i < projects; i += 997)
        QCOMPARE(tree.find(4 + i)->properties.value(QStringLiteral("label")).toString(),
                 QString::number(i));
    QVERIFY(!tree.find(4 + projects));
}

QTEST_GUILESS_MAIN(TestDBusMenuLayout)
#include "test_dbus_menu_layout.moc"
