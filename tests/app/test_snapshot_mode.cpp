// Snapshot mode through the real executable, headless: which pictures it writes, in which palette,
// and that it always quits.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString executable = QStringLiteral(QN_BINARY_DIR "/bin/quillnest-bar");

struct Run {
    bool finished = false;
    int exitCode = -1;
};

// Starts the utility with no display and the given variables; waits up to 20 s for it to quit.
Run runSnapshot(const QString& home, const QList<QPair<QString, QString>>& vars,
                int waitMs = 20000) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QUILLNEST_SNAPSHOT",
          "QUILLNEST_SNAPSHOT_DARK", "QUILLNEST_SHOW_MENU", "DBUS_SESSION_BUS_ADDRESS"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("QUILLNEST_HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home); // never the session's running utility
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    for (const auto& [name, value] : vars)
        env.insert(name, value);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(executable, {});
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    run.finished = process.waitForFinished(waitMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

QPair<QString, QString> var(const char* name, const QString& value) {
    return {QString::fromLatin1(name), value};
}

} // namespace

class TestSnapshotMode : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void picturePaths_data();
    void picturePaths();
    void darkOnlyForOne_data();
    void darkOnlyForOne();
    void missingFolderLeavesNothing();
    void emptyPathStillQuits();
    void showMenuDoesNotKeepItRunning();
    void withoutSnapshotItKeepsRunning();

private:
    QTemporaryDir dir_;
    QString home_;
};

void TestSnapshotMode::initTestCase() {
    QVERIFY(QFile::exists(executable));
    QVERIFY(dir_.isValid());
    home_ = dir_.filePath(QStringLiteral("home"));
    QDir().mkpath(home_);
}

void TestSnapshotMode::picturePaths_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<int>("projectsHeight");
    const auto s = [](const char* t) { return QString::fromUtf8(t); };
    // The empty state: 11 items and 3 separators (349 high), and a one-row project submenu (76).
    QTest::newRow("m.png") << s("m.png") << QStringList{s("m.png"), s("m-projects.png")} << 76;
    QTest::newRow("no extension: the projects picture replaces the menu")
        << s("m") << QStringList{s("m")} << 76;
    QTest::newRow("a.png.png") << s("a.png.png")
                               << QStringList{s("a.png.png"), s("a-projects.png-projects.png")}
                               << 76;
    QTest::newRow("odd name") << s("R&D <b> 'q' ё.png")
                              << QStringList{s("R&D <b> 'q' ё.png"),
                                             s("R&D <b> 'q' ё-projects.png")}
                              << 76;
}

void TestSnapshotMode::picturePaths() {
    QFETCH(QString, path);
    QFETCH(QStringList, written);
    QFETCH(int, projectsHeight);
    const QString out = dir_.filePath(QStringLiteral("paths-") + QString::number(qHash(path)));
    QDir().mkpath(out);
    const Run run = runSnapshot(home_, {var("QUILLNEST_SNAPSHOT", out + QLatin1Char('/') + path)});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QStringList files = QDir(out).entryList(QDir::Files, QDir::Name);
    written.sort();
    QCOMPARE(files, written);
    const QImage first(out + QLatin1Char('/') + path, "PNG");
    QCOMPARE(first.width(), 330);
    // The projects picture is the one written second, or the only one when both share a path.
    const QString projects = written.size() == 1       ? written.first()
                             : written.first() == path ? written.last()
                                                       : written.first();
    QCOMPARE(QImage(out + QLatin1Char('/') + projects, "PNG").height(), projectsHeight);
    if (written.size() == 2)
        QCOMPARE(first.height(), 349);
}

void TestSnapshotMode::darkOnlyForOne_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("dark");
    QTest::newRow("1") << QStringLiteral("1") << true;
    QTest::newRow("true") << QStringLiteral("true") << false;
}

void TestSnapshotMode::darkOnlyForOne() {
    QFETCH(QString, value);
    QFETCH(bool, dark);
    const QString out = dir_.filePath(QStringLiteral("dark-%1.png").arg(qHash(value)));
    const Run run =
        runSnapshot(home_, {var("QUILLNEST_SNAPSHOT", out), var("QUILLNEST_SNAPSHOT_DARK", value)});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    const QImage menu(out, "PNG");
    QVERIFY(!menu.isNull());
    QCOMPARE(qGray(menu.pixel(1, 1)), dark ? 26 : 217); // backdrop grey 0.1 or 0.85
    // The projects picture is always light.
    QString projectsPath = out;
    projectsPath.replace(QStringLiteral(".png"), QStringLiteral("-projects.png"));
    const QImage projects(projectsPath, "PNG");
    QVERIFY(!projects.isNull());
    QCOMPARE(qGray(projects.pixel(1, 1)), 217);
}

void TestSnapshotMode::missingFolderLeavesNothing() {
    const QString missing = dir_.filePath(QStringLiteral("no-such-folder"));
    const Run run =
        runSnapshot(home_, {var("QUILLNEST_SNAPSHOT", missing + QStringLiteral("/m.png"))});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!QFile::exists(missing));
}

void TestSnapshotMode::emptyPathStillQuits() {
    const Run run = runSnapshot(home_, {var("QUILLNEST_SNAPSHOT", QString())});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
}

void TestSnapshotMode::showMenuDoesNotKeepItRunning() {
    const QString out = dir_.filePath(QStringLiteral("show.png"));
    const Run run = runSnapshot(
        home_, {var("QUILLNEST_SNAPSHOT", out), var("QUILLNEST_SHOW_MENU", QStringLiteral("1"))});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFile::exists(out));
}

void TestSnapshotMode::withoutSnapshotItKeepsRunning() {
    const Run run = runSnapshot(home_, {var("QT_QPA_PLATFORM", QStringLiteral("offscreen"))}, 2000);
    QVERIFY(!run.finished);
}

QTEST_GUILESS_MAIN(TestSnapshotMode)
#include "test_snapshot_mode.moc"
