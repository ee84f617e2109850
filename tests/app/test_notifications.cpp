// What the user is told when a command fails or the state turns bad, end to end: the App runs a
// real child or reads a real state file, and a fake notification server on a private session bus
// records each Notify call it receives.
#include "app/app.h"
#include "app/app_probe.h"
#include "support/private_bus.h"
#include "support/recording_workspace.h"
#include "support/test_support.h"
#include "tray/status_item.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quillnest;
using namespace quillnest::test;

namespace {

const QString serverName = QStringLiteral("org.freedesktop.Notifications");

class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList capabilities;
    QStringList summaries;
    QStringList bodies;
    QList<QStringList> actions;
    QList<uint> replaced;

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& offered, const QVariantMap&, int) {
        replaced.append(replaces);
        summaries.append(summary);
        bodies.append(body);
        actions.append(offered);
        return uint(summaries.size());
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& key);
};

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void failuresAreTold_data();
    void failuresAreTold();
    void markupAndActions_data();
    void markupAndActions();
    void stateChangesAreTold_data();
    void stateChangesAreTold();

private:
    PrivateBus bus_;
    FakeNotificationServer server_;
    QTemporaryDir dir_;
};

void TestNotifications::initTestCase() {
    const QString address = bus_.start();
    if (address.isEmpty())
        QSKIP("no dbus-daemon to run a private session bus");
    QDBusConnection connection = QDBusConnection::connectToBus(address, QStringLiteral("server"));
    QVERIFY(connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server_,
                                      QDBusConnection::ExportAllSlots |
                                          QDBusConnection::ExportAllSignals));
    QVERIFY(connection.registerService(serverName));
    // A tool that exits 3 for check, by itself at once for watch, and 0 otherwise.
    writeFile(dir_.filePath(QStringLiteral("bin/quillnest")),
              "#!/bin/sh\ncase \"$1\" in check) exit 3 ;; esac\nexit 0\n");
    QFile::setPermissions(dir_.filePath(QStringLiteral("bin/quillnest")),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    // One that fails every command, in a folder whose name is markup, and logs each run beside it.
    const QString failing = dir_.filePath(QStringLiteral("R&D <x>/failing"));
    writeFile(failing, "#!/bin/sh\necho \"$1\" >> \"${0%/*}/log\"\nexit 3\n");
    QFile::setPermissions(failing, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
}

void TestNotifications::failuresAreTold_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("toolThere");
    QTest::addColumn<bool>("ru");
    QTest::addColumn<QString>("summary"); // empty: nothing is told
    QTest::addColumn<QString>("bodyHas");

    QTest::newRow("no tool") << "sync" << false << false << "The quillnest tool was not found"
                             << "write the tool's full path";
    QTest::newRow("no tool, Russian") << "sync" << false << true << "Инструмент quillnest не найден"
                                      << "Установите его";
    QTest::newRow("exit status 3") << "check" << true << false << "Check failed"
                                   << "ended with exit status 3";
    QTest::newRow("exit status 3, Russian") << "check" << true << true << "Проверка не удалась"
                                            << "с кодом 3";
    QTest::newRow("success") << "sync" << true << false << QString() << QString();
    QTest::newRow("watch ended by itself")
        << "watch" << true << false << "Watching for changes stopped"
        << "ended by itself";
}

void TestNotifications::failuresAreTold() {
    QFETCH(QString, command);
    QFETCH(bool, toolThere);
    QFETCH(bool, ru);
    QFETCH(QString, summary);
    QFETCH(QString, bodyHas);
    // Without a tool the bare name is looked up along PATH, which then holds nothing of ours.
    for (const char* place :
         {"/usr/local/bin/quillnest", "/opt/homebrew/bin/quillnest", "/usr/bin/quillnest"}) {
        if (!toolThere && QFile::exists(QString::fromLatin1(place)))
            QSKIP("a quillnest tool is installed on this machine");
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir_.filePath(QStringLiteral("empty"))));
    server_.summaries.clear();
    server_.bodies.clear();

    AppSetup setup;
    setup.settings.stateDir = dir_.filePath(QStringLiteral("state"));
    setup.settings.ru = ru;
    setup.workspace = std::make_unique<RecordingWorkspace>();
    const QString tool =
        toolThere ? dir_.filePath(QStringLiteral("bin/quillnest")) : QStringLiteral("quillnest");
    setup.locateTool = [tool] { return tool; };
    App app(std::move(setup));
    app.applicationDidFinishLaunching();
    if (command == QLatin1String("sync"))
        app.syncNow();
    else if (command == QLatin1String("check"))
        app.checkNow();
    else
        app.toggleWatch();
    qputenv("PATH", path);

    QTRY_VERIFY_WITH_TIMEOUT(AppProbe::busy(&app) == Busy::None && !AppProbe::watcher(&app), 10000);
    if (summary.isEmpty()) {
        QTest::qWait(300); // room for a notification that should not come
        QCOMPARE(server_.summaries, QStringList());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(server_.summaries.size(), 1, 10000);
    QCOMPARE(server_.summaries.first(), summary);
    QVERIFY2(server_.bodies.first().contains(bodyHas), qPrintable(server_.bodies.first()));
    if (command == QLatin1String("watch")) {
        for (const MenuItem& item : *AppProbe::item(&app)->menu()) {
            if (item.action == Action::ToggleWatch)
                QVERIFY(!item.checked);
        }
    }
}

// A body goes escaped only to a server that reads markup in it; the action only to one with
// buttons, and the server invoking it for our notification runs the command once, for another one
// nothing.
void TestNotifications::markupAndActions_data() {
    QTest::addColumn<QStringList>("capabilities");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("ru");
    QTest::addColumn<bool>("runs"); // the tool runs and fails; otherwise it cannot be started
    QTest::addColumn<QString>("bodyHas");
    QTest::addColumn<QStringList>("actions");

    const QString missing = QStringLiteral("R&D <x>/missing could not be started.");
    QTest::newRow("plain text server") << QStringList{QStringLiteral("body")} << "sync" << false
                                       << false << missing << QStringList();
    QTest::newRow("body-markup server")
        << QStringList{QStringLiteral("body"), QStringLiteral("body-markup")} << "sync" << false
        << false << "R&amp;D &lt;x&gt;/missing could not be started." << QStringList();
    QTest::newRow("actions, sync")
        << QStringList{QStringLiteral("actions")} << "sync" << false << true
        << "ended with exit status 3"
        << QStringList{QStringLiteral("retry"), QStringLiteral("Sync again")};
    QTest::newRow("actions, check, Russian")
        << QStringList{QStringLiteral("actions")} << "check" << true << true << "с кодом 3"
        << QStringList{QStringLiteral("retry"), QStringLiteral("Проверить снова")};
}

void TestNotifications::markupAndActions() {
    QFETCH(QStringList, capabilities);
    QFETCH(QString, command);
    QFETCH(bool, ru);
    QFETCH(bool, runs);
    QFETCH(QString, bodyHas);
    QFETCH(QStringList, actions);
    server_.capabilities = capabilities;
    server_.summaries.clear();
    server_.bodies.clear();
    server_.actions.clear();
    const QString log = dir_.filePath(QStringLiteral("R&D <x>/log"));
    QFile::remove(log);
    const auto runsLogged = [&log] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    };

    AppSetup setup;
    setup.settings.stateDir = dir_.filePath(QStringLiteral("state"));
    setup.settings.ru = ru;
    setup.workspace = std::make_unique<RecordingWorkspace>();
    const QString tool =
        dir_.filePath(runs ? QStringLiteral("R&D <x>/failing") : QStringLiteral("R&D <x>/missing"));
    setup.locateTool = [tool] { return tool; };
    App app(std::move(setup));
    app.applicationDidFinishLaunching();
    command == QLatin1String("sync") ? app.syncNow() : app.checkNow();

    QTRY_COMPARE_WITH_TIMEOUT(server_.summaries.size(), 1, 10000);
    QVERIFY2(server_.bodies.first().contains(bodyHas), qPrintable(server_.bodies.first()));
    QCOMPARE(server_.actions.first(), actions);
    if (actions.isEmpty())
        return;
    QCOMPARE(runsLogged(), 1);
    Q_EMIT server_.ActionInvoked(7, QStringLiteral("retry")); // another client's notification
    QTest::qWait(300);
    QCOMPARE(runsLogged(), 1);
    Q_EMIT server_.ActionInvoked(1, QStringLiteral("retry"));
    QTRY_COMPARE_WITH_TIMEOUT(server_.summaries.size(), 2, 10000); // it failed again
    QCOMPARE(runsLogged(), 2);
}

// Each state is a list of projects under projects/ with their counts ("a:s2 b:c1 c:w3"; a bare
// name counts nothing), "-" for no state file or "torn" for half a file; states are parted by "|".
// Each is read by a refresh, as the state watch would ask for it, and what it told is listed by
// kind: S secrets, C conflicts, "." nothing.
void TestNotifications::stateChangesAreTold_data() {
    QTest::addColumn<QString>("states");
    QTest::addColumn<QString>("told"); // after each state
    QTest::addColumn<bool>("ru");
    QTest::addColumn<QString>("replaced"); // the kind and replaces_id of each Notify call
    QTest::addColumn<QString>("bodyHas");  // the first notice's body
    QTest::addColumn<QString>("opens");    // what its action opens, under projects/

    // clang-format off
    QTest::newRow("secrets appear") << "a | a:s2" << ". S" << false << "S0"
        << "2 passwords or keys in 1 project: a." << "a/QUILLNEST.md";
    QTest::newRow("red at start-up") << "a:s1 | a:s2 b:s1" << ". ." << false << "" << "" << "";
    QTest::newRow("no state file at start-up") << "- | b:s1" << ". S" << false << "S0" << "" << "b";
    QTest::newRow("stays red, once only") << "a | a:s1 | a:s3 b:s1 | b:s1" << ". S . ." << false
        << "S0" << "" << "";
    QTest::newRow("clean, then again") << "a | a:s1 | a | b:s1" << ". S . S" << false << "S0 S1"
        << "" << "";
    QTest::newRow("torn and missing reads are no news") << "a | a:s1 | torn | - | a:s1"
        << ". S . . ." << false << "S0" << "" << "";
    QTest::newRow("warnings") << "a | a:w3" << ". ." << false << "" << "" << "";
    QTest::newRow("conflicts appear, Russian") << "a | a b:c2" << ". C" << true << "C0"
        << "2 конфликта в 1 проекте: b — см. .quillnest/conflicts." << "b/.quillnest/conflicts";
    QTest::newRow("each kind replaces its own") << "a | a:s1 b:c1 | a | a:s1 b:c1" << ". SC . SC"
        << false << "S0 C0 S1 C2" << "" << "";
    // clang-format on
}

void TestNotifications::stateChangesAreTold() {
    QFETCH(QString, states);
    QFETCH(QString, told);
    QFETCH(bool, ru);
    QFETCH(QString, replaced);
    QFETCH(QString, bodyHas);
    QFETCH(QString, opens);
    server_.capabilities = QStringList{QStringLiteral("actions")};
    server_.summaries.clear();
    server_.bodies.clear();
    server_.replaced.clear();
    const QString stateDir = dir_.filePath(QStringLiteral("watched"));
    const QString projects = dir_.filePath(QStringLiteral("projects")) + u'/';
    writeFile(projects + QStringLiteral("a/QUILLNEST.md"), "");
    QDir().mkpath(projects + QStringLiteral("b/.quillnest/conflicts"));

    AppSetup setup;
    setup.settings.stateDir = stateDir;
    setup.settings.ru = ru;
    auto* workspace = new RecordingWorkspace;
    setup.workspace.reset(workspace);
    App app(std::move(setup));
    const QStringList state = states.split(QStringLiteral(" | "));
    QString kinds;
    for (qsizetype i = 0; i < state.size(); ++i) {
        QByteArray json;
        for (const QString& project : state[i].split(u' ')) {
            const QString count = project.section(u':', 1);
            json += ",\"" + QFile::encodeName(projects + project.section(u':', 0, 0)) + "\":{\"" +
                    (count.startsWith(u's')   ? "secrets"
                     : count.startsWith(u'c') ? "conflicts"
                                              : "warn") +
                    "\":" + (count.size() > 1 ? count.mid(1) : QStringLiteral("0")).toLatin1() +
                    '}';
        }
        QFile::remove(stateDir + QStringLiteral("/state.json"));
        if (state[i] != u"-")
            writeFile(stateDir + QStringLiteral("/state.json"),
                      state[i] == u"torn" ? json : "{\"projects\":{" + json.mid(1) + "}}");
        i == 0 ? app.applicationDidFinishLaunching() : app.refresh();
        kinds += told.section(u' ', i, i).remove(u'.');
        QTRY_COMPARE_WITH_TIMEOUT(server_.summaries.size(), kinds.size(), 10000);
        QTest::qWait(100); // room for a notice that should not come, and for the server's answer
    }
    QString got;
    for (qsizetype n = 0; n < server_.summaries.size(); ++n)
        got += QStringLiteral("%1%2 ")
                   .arg(QLatin1Char(
                       server_.summaries[n].contains(ru ? u"Конфликт" : u"Conflict") ? 'C' : 'S'))
                   .arg(server_.replaced[n]);
    QCOMPARE(got.trimmed(), replaced);
    if (!bodyHas.isEmpty())
        QCOMPARE(server_.bodies.first(), bodyHas);
    if (opens.isEmpty())
        return;
    Q_EMIT server_.ActionInvoked(1, QStringLiteral("retry")); // not the key of a state notice
    Q_EMIT server_.ActionInvoked(1, QStringLiteral("open"));
    QTRY_COMPARE(workspace->opened, QList<QUrl>{QUrl::fromLocalFile(projects + opens)});
}

QTEST_MAIN(TestNotifications)
#include "test_notifications.moc"
