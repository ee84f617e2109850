#include "support/menu_item.h"
#include "tray/menu_builder.h"
#include "tray/status_item.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTextDocumentFragment>

using namespace quillnest;
using namespace quillnest::test;

class TestMenuBuilder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void enabling_data();
    void enabling();
    void textsShowAsWritten_data();
    void textsShowAsWritten();
    void shortcutsAndCheckMark();
    void shortcutsOfTheOpenMenu_data();
    void shortcutsOfTheOpenMenu();
    void pickingReportsActionAndPath();
    void rebuildingDropsOldSubmenus();
    void menuBesideThePanel_data();
    void menuBesideThePanel();
};

void TestMenuBuilder::enabling_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("hasSubmenu");
    QTest::addColumn<bool>("shown");
    QTest::newRow("info item") << false << int(Action::None) << false << false;
    QTest::newRow("command") << true << int(Action::SyncNow) << false << true;
    QTest::newRow("command while busy: no action") << true << int(Action::None) << false << false;
    QTest::newRow("submenu without action") << true << int(Action::None) << true << true;
    QTest::newRow("cleared flag wins") << false << int(Action::SyncNow) << false << false;
}

void TestMenuBuilder::enabling() {
    QFETCH(bool, enabled);
    QFETCH(int, action);
    QFETCH(bool, hasSubmenu);
    QFETCH(bool, shown);
    MenuItem entry = item(QStringLiteral("x"), Action(action));
    entry.enabled = enabled;
    entry.hasSubmenu = hasSubmenu;
    QMenu menu;
    populateMenu(&menu, {entry}, [](Action, const QString&) {});
    QCOMPARE(menu.actions().size(), 1);
    QCOMPARE(menu.actions().first()->isEnabled(), shown);
    QCOMPARE(menu.actions().first()->menu() != nullptr, hasSubmenu);
}

void TestMenuBuilder::textsShowAsWritten_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("ampersand") << QStringLiteral("R&D");
    QTest::newRow("two ampersands") << QStringLiteral("a && b &");
    QTest::newRow("markup") << QStringLiteral("<b>x</b> & <i>");
    QTest::newRow("quotes and Cyrillic") << QStringLiteral("'q' \"d\" проект ёж");
}

void TestMenuBuilder::textsShowAsWritten() {
    QFETCH(QString, text);
    MenuItem entry = item(text, Action::OpenMaster);
    entry.toolTip = QStringLiteral("/p/") + text;
    MenuItem parent = item(text);
    parent.hasSubmenu = true;
    parent.submenu = {entry};
    QMenu menu;
    populateMenu(&menu, {parent}, [](Action, const QString&) {});
    QAction* submenuAction = menu.actions().first();
    QCOMPARE(submenuAction->text(), actionText(text));
    QAction* project = submenuAction->menu()->actions().first();
    // A QAction shows "&&" as "&" and takes a lone "&" as a mnemonic marker.
    QString shown = project->text();
    shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    QVERIFY(!shown.contains(QLatin1Char('&')));
    shown.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    QCOMPARE(shown, text);
    QCOMPARE(QTextDocumentFragment::fromHtml(project->toolTip()).toPlainText(),
             QStringLiteral("/p/") + text);
    QVERIFY(submenuAction->menu()->toolTipsVisible());
}

void TestMenuBuilder::shortcutsAndCheckMark() {
    MenuItem watch = item(QStringLiteral("Watch for changes"), Action::ToggleWatch);
    watch.checkable = true;
    watch.checked = true;
    MenuItem sync = item(QStringLiteral("Sync now"), Action::SyncNow);
    sync.key = QStringLiteral("s");
    MenuItem quit = item(QStringLiteral("Quit"), Action::Quit);
    quit.key = QStringLiteral("q");
    QMenu menu;
    populateMenu(&menu, {watch, sync, quit}, [](Action, const QString&) {});
    const QList<QAction*> actions = menu.actions();
    QVERIFY(actions[0]->isCheckable() && actions[0]->isChecked());
    QVERIFY(actions[0]->shortcut().isEmpty());
    QVERIFY(!actions[1]->isCheckable());
    QCOMPARE(actions[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QCOMPARE(actions[2]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void TestMenuBuilder::shortcutsOfTheOpenMenu_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("found"); // title of the action, or empty
    QTest::newRow("Ctrl+Q") << int(Qt::Key_Q) << int(Qt::ControlModifier) << QStringLiteral("Quit");
    QTest::newRow("Ctrl+S while busy") << int(Qt::Key_S) << int(Qt::ControlModifier) << QString();
    QTest::newRow("Ctrl+R") << int(Qt::Key_R) << int(Qt::ControlModifier)
                            << QStringLiteral("Check");
    QTest::newRow("plain q navigates") << int(Qt::Key_Q) << int(Qt::NoModifier) << QString();
    QTest::newRow("Ctrl+Shift+Q") << int(Qt::Key_Q) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << QString();
    QTest::newRow("Ctrl+X unknown") << int(Qt::Key_X) << int(Qt::ControlModifier) << QString();
}

void TestMenuBuilder::shortcutsOfTheOpenMenu() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, found);
    MenuItem sync = item(QStringLiteral("Syncing…")); // no action while a sync runs
    sync.key = QStringLiteral("s");
    MenuItem check = item(QStringLiteral("Check"), Action::CheckNow);
    check.key = QStringLiteral("r");
    MenuItem quit = item(QStringLiteral("Quit"), Action::Quit);
    quit.key = QStringLiteral("q");
    QMenu menu;
    populateMenu(&menu, {sync, check, quit}, [](Action, const QString&) {});
    const QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
    QAction* action = actionForShortcut(&menu, press);
    QCOMPARE(action ? action->text() : QString(), found);
}

void TestMenuBuilder::pickingReportsActionAndPath() {
    MenuItem project = item(QStringLiteral("site"), Action::OpenMaster);
    project.represented = QStringLiteral("/Users/a/site/");
    MenuItem parent = item(QStringLiteral("Open master file"));
    parent.hasSubmenu = true;
    parent.submenu = {project};
    QMenu menu;
    QList<QPair<Action, QString>> picked;
    populateMenu(
        &menu,
        {item(QStringLiteral("info")), parent, item(QStringLiteral("Check"), Action::CheckNow)},
        [&](Action action, const QString& path) {
            picked.append({action, path});
        });
    menu.actions()[0]->trigger(); // an info item reports nothing
    menu.actions()[1]->menu()->actions().first()->trigger();
    menu.actions()[2]->trigger();
    QCOMPARE(picked.size(), 2);
    QCOMPARE(picked[0], qMakePair(Action::OpenMaster, QStringLiteral("/Users/a/site/")));
    QCOMPARE(picked[1], qMakePair(Action::CheckNow, QString()));
}

void TestMenuBuilder::rebuildingDropsOldSubmenus() {
    MenuItem parent = item(QStringLiteral("Open master file"));
    parent.hasSubmenu = true;
    parent.submenu = {item(QStringLiteral("a"), Action::OpenMaster)};
    MenuItem separator;
    separator.separator = true;
    QMenu menu;
    populateMenu(&menu, {parent, separator}, [](Action, const QString&) {});
    QPointer<QMenu> old = menu.actions().first()->menu();
    QVERIFY(old);
    for (int i = 0; i < 100; ++i)
        populateMenu(&menu, {parent, separator}, [](Action, const QString&) {});
    QVERIFY(!old);
    QCOMPARE(menu.actions().size(), 2);
    QCOMPARE(menu.findChildren<QMenu*>().size(), 1);
}

void TestMenuBuilder::menuBesideThePanel_data() {
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("at");
    const QRect lowerPanel(0, 0, 1920, 1048); // a 32-pixel panel at the bottom reserves its place
    QTest::newRow("lower panel") << QRect(1900, 1060, 1, 1) << lowerPanel << QPoint(1620, 648);
    QTest::newRow("upper panel") << QRect(100, 10, 1, 1) << QRect(0, 24, 1920, 1056)
                                 << QPoint(100, 24);
    QTest::newRow("left panel") << QRect(20, 500, 1, 1) << QRect(48, 0, 1872, 1080)
                                << QPoint(48, 501);
    QTest::newRow("icon, no reserved place")
        << QRect(1800, 0, 24, 24) << QRect(0, 0, 1920, 1080) << QPoint(1620, 24);
    QTest::newRow("icon at the bottom, no reserved place")
        << QRect(1800, 1056, 24, 24) << QRect(0, 0, 1920, 1080) << QPoint(1620, 656);
    QTest::newRow("taller than the screen")
        << QRect(10, 1060, 1, 1) << QRect(0, 0, 1920, 300) << QPoint(10, 0);
}

// A 300 x 400 menu.
void TestMenuBuilder::menuBesideThePanel() {
    QFETCH(QRect, anchor);
    QFETCH(QRect, available);
    QFETCH(QPoint, at);
    QCOMPARE(menuPosition(QSize(300, 400), anchor, available), at);
}

QTEST_MAIN(TestMenuBuilder)
#include "test_menu_builder.moc"
