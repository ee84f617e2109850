// Start-up through the real executable: one instance per session, on a private session bus with a
// fake StatusNotifierWatcher and with the lock file where there is no bus; and Qt's own texts of
// the folder chooser in Russian.
#include "desktop/folder_dialog.h"
#include "desktop/qt_translations.h"
#include "support/private_bus.h"

#include <QDBusConnectionInterface>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace quillnest;

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList registered;
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { registered.append(service); }
};

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void secondStartChangesNothing_data();
    void secondStartChangesNothing();
    void folderChooserSpeaksRussian();
};

void TestStartup::secondStartChangesNothing_data() {
    QTest::addColumn<bool>("bus");
    QTest::newRow("session bus") << true;
    QTest::newRow("no bus: lock file") << false;
}

void TestStartup::secondStartChangesNothing() {
    QFETCH(bool, bus);
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "QUILLNEST_SNAPSHOT", "QUILLNEST_SHOW_MENU"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("QUILLNEST_HOME"), dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    test::PrivateBus privateBus;
    FakeWatcher watcher;
    if (bus) {
        const QString address = privateBus.start();
        if (address.isEmpty())
            QSKIP("no dbus-daemon to run a private session bus");
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        QDBusConnection c = QDBusConnection::connectToBus(address, QStringLiteral("w"));
        QVERIFY(c.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        QVERIFY(c.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                 QDBusConnection::ExportAllSlots));
    }
    const auto start = [&](QProcess& p, const QString& snapshot = {}) {
        QProcessEnvironment e = env;
        if (!snapshot.isEmpty())
            e.insert(QStringLiteral("QUILLNEST_SNAPSHOT"), snapshot);
        p.setProcessEnvironment(e);
        p.start(QStringLiteral(QN_BINARY_DIR "/bin/quillnest-bar"), {});
        return p.waitForStarted();
    };
    QProcess first, second, snapshot, third;
    QVERIFY(start(first));
    if (bus) {
        QTRY_COMPARE_WITH_TIMEOUT(watcher.registered.size(), 1, 10000);
    } else { // the lock is held and kept from children (O_CLOEXEC in the open flags, octal)
        const QString lock = dir.filePath(QStringLiteral("quillnest-bar.lock"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 10000);
        QTest::qWait(500);
        const QString proc = QStringLiteral("/proc/%1/").arg(first.processId());
        QString flags;
        for (const QString& fd :
             QDir(proc + QStringLiteral("fd"))
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(proc + QStringLiteral("fd/") + fd) != lock)
                continue;
            QFile info(proc + QStringLiteral("fdinfo/") + fd);
            QVERIFY(info.open(QIODevice::ReadOnly));
            flags = QString::fromLatin1(info.readAll())
                        .section(QStringLiteral("flags:"), 1)
                        .section(QLatin1Char('\n'), 0, 0);
        }
        QVERIFY2(flags.trimmed().toUInt(nullptr, 8) & 02000000, qPrintable(flags));
    }
    QVERIFY(start(second) && second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(second.readAllStandardError().contains("already running"));
    if (bus) {
        QTest::qWait(300);
        QCOMPARE(watcher.registered.size(), 1);
    }
    // Snapshot mode runs beside it.
    QVERIFY(start(snapshot, dir.filePath(QStringLiteral("m.png"))) &&
            snapshot.waitForFinished(20000));
    QCOMPARE(snapshot.exitCode(), 0);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("m.png"))));
    if (bus) {
        const QDBusConnection c(QStringLiteral("w"));
        QCOMPARE(c.interface()->servicePid(QStringLiteral("org.quillnest.bar")).value(),
                 uint(first.processId()));
    }
    // A crashed first instance leaves nothing that blocks the next start.
    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(start(third));
    QVERIFY(!third.waitForFinished(2000));
    third.kill();
    third.waitForFinished();
    QDBusConnection::disconnectFromBus(QStringLiteral("w"));
}

void TestStartup::folderChooserSpeaksRussian() {
    const QString path = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(path + QStringLiteral("/qtbase_ru.qm")))
        QSKIP("qtbase_ru.qm is not installed (qt6-translations-l10n)");
    const auto texts = [] {
        QFileDialog dialog;
        setUpFolderDialog(dialog, QStringLiteral("Add"));
        const auto* box = dialog.findChild<QDialogButtonBox*>();
        QStringList shown;
        if (box) { // Qt's own dialog, not a native one
            for (const QAbstractButton* button : box->buttons())
                shown.append(button->text());
        }
        const auto* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
        return shown << (lookIn ? lookIn->text() : QString());
    };
    QVERIFY(!installQtTranslations(false));
    const QStringList english = texts();
    QVERIFY(installQtTranslations(true));
    const QStringList russian = texts();
    const auto s = [](const char* text) { return QString::fromUtf8(text); };
    QCOMPARE(english, (QStringList{s("&Choose"), s("Cancel"), s("Look in:")}));
    QCOMPARE(russian, (QStringList{s("&Выбрать"), s("Отмена"), s("Перейти к:")}));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
