// Start-up: one instance per session through the real executable (on a private session bus with a
// fake StatusNotifierWatcher, and with the lock file where there is no bus); Qt's own texts.
#include "desktop/folder_dialog.h"
#include "desktop/qt_translations.h"
#include "support/fake_watcher.h"
#include "support/private_bus.h"

#include <QDBusConnection>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using quillnest::test::FakeWatcher;

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void secondStartChangesNothing_data() {
        QTest::addColumn<bool>("bus");
        QTest::addColumn<QString>("runtime"); // the runtime directory: how it is made unsafe
        QTest::newRow("session bus") << true << QString();
        QTest::newRow("no bus: lock file") << false << QString();
        // Where another user could hold the lock, nothing is guarded: a second start runs too.
        QTest::newRow("no bus: world-writable runtime dir") << false << u"0777"_s;
        QTest::newRow("no bus: runtime dir of another user") << false << u"nobody"_s;
        QTest::newRow("no bus: no runtime dir") << false << u"unset"_s;
    }
    void secondStartChangesNothing();
    void folderChooserSpeaksRussian();
};

// The first start holds the session; a second one leaves at once with status 0, a snapshot run
// still works, and a first one killed outright leaves nothing that blocks the next start.
void TestStartup::secondStartChangesNothing() {
    QFETCH(bool, bus);
    QFETCH(QString, runtime);
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"QUILLNEST_HOME"_s, dir.path());
    env.insert(u"XDG_RUNTIME_DIR"_s, dir.filePath(u"run"_s));
    QVERIFY(
        QDir(dir.path()).mkdir(u"run"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray run = QFile::encodeName(dir.filePath(u"run"_s));
    if (runtime == u"unset")
        env.remove(u"XDG_RUNTIME_DIR"_s);
    else if (runtime == u"0777")
        QCOMPARE(::chmod(run.constData(), 0777), 0);
    else if (runtime == u"nobody" && (::geteuid() != 0 || ::chown(run.constData(), 65534, 65534)))
        QSKIP("only root can give the runtime directory to another user");
    quillnest::test::PrivateBus privateBus;
    FakeWatcher watcher;
    const QString address = bus ? privateBus.start() : QString();
    if (bus) {
        QVERIFY2(!address.isEmpty(), "dbus-daemon (scripts/install-deps.sh test) runs a bus");
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address);
        QDBusConnection c = QDBusConnection::connectToBus(address, u"w"_s);
        QVERIFY(c.registerService(u"org.kde.StatusNotifierWatcher"_s));
        QVERIFY(c.registerObject(u"/StatusNotifierWatcher"_s, &watcher,
                                 QDBusConnection::ExportAllSlots));
    }
    const QString picture = dir.filePath(u"m.png"_s);
    const auto start = [&](QProcess& p, bool snapshot = false) {
        QProcessEnvironment e = env;
        e.remove(u"QUILLNEST_SNAPSHOT"_s);
        if (snapshot)
            e.insert(u"QUILLNEST_SNAPSHOT"_s, picture);
        p.setProcessEnvironment(e);
        // Started with SIGCHLD ignored, as some launchers leave it.
        p.start(u"/usr/bin/env"_s,
                {u"--ignore-signal=CHLD"_s, QStringLiteral(QN_BINARY_DIR "/bin/quillnest-bar")});
        return p.waitForStarted();
    };
    QProcess first, second, snapshot, third;
    QVERIFY(start(first));
    if (!runtime.isEmpty()) {
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += first.readAllStandardError()).contains("without a one-instance lock"), 10000);
        QVERIFY(start(second));
        QVERIFY(!second.waitForFinished(2000)); // runs beside the first
        for (QProcess* p : {&first, &second}) {
            p->kill();
            p->waitForFinished();
        }
        return;
    }
    if (bus) {
        QTRY_COMPARE_WITH_TIMEOUT(watcher.registered.size(), 1, 10000);
    } else { // the lock, kept from children: O_CLOEXEC in its fdinfo's "flags:\t02100002" (octal)
        const auto lockFlags = [&] {
            const QString fdinfo = u"/proc/%1/fdinfo"_s.arg(first.processId());
            for (const QFileInfo& fd : QDir(fdinfo).entryInfoList(QDir::Files)) {
                QFile file(fd.filePath());
                const QByteArray info = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
                if (info.contains("FLOCK"))
                    return info.split('\n').value(1).mid(6).trimmed().toUInt(nullptr, 8);
            }
            return 0u;
        };
        QTRY_VERIFY_WITH_TIMEOUT(lockFlags() != 0, 10000);
        QVERIFY(lockFlags() & 02000000);
    }
    QFile status(u"/proc/%1/status"_s.arg(first.processId())); // SIGCHLD is not ignored
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QByteArray st = status.readAll();
    const qsizetype ignored = st.indexOf("SigIgn:") + 7;
    QVERIFY(ignored > 6 &&
            !(st.mid(ignored, 17).trimmed().toULongLong(nullptr, 16) & (1ull << (SIGCHLD - 1))));
    QVERIFY(start(second) && second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(second.readAllStandardError().contains("already running"));
    QTest::qWait(300);
    QCOMPARE(watcher.registered.size(), bus ? 1 : 0);
    QVERIFY(start(snapshot, true) && snapshot.waitForFinished(20000));
    QCOMPARE(snapshot.exitCode(), 0);
    QVERIFY(QFile::exists(picture));
    QTest::qWait(200);
    QCOMPARE(watcher.registered.size(), bus ? 1 : 0); // the snapshot put no item in the panel
    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(start(third));
    QVERIFY(!third.waitForFinished(2000));
    third.kill();
    third.waitForFinished();
    QDBusConnection::disconnectFromBus(u"w"_s);
}

// Qt's own dialog (offscreen there is no native one), with Qt's translations loaded for Russian.
void TestStartup::folderChooserSpeaksRussian() {
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + u"/qtbase_ru.qm"_s))
        QSKIP("qtbase_ru.qm is not installed (qt6-translations-l10n)");
    const auto texts = [] {
        QFileDialog dialog;
        quillnest::setUpFolderDialog(dialog, u"Add"_s);
        QStringList shown;
        for (const QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
            shown.append(button->text());
        return shown << dialog.findChild<QLabel*>(u"lookInLabel"_s)->text();
    };
    QVERIFY(quillnest::installQtTranslations(true));
    QCOMPARE(texts(), (QStringList{u"&Выбрать"_s, u"Отмена"_s, u"Перейти к:"_s}));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
