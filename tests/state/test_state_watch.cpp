// The state watch against a real file system: each way the tool may change the state file is
// noticed, bursts fold into one signal, changes beside the file are not reported, and the watch
// follows a state directory that is replaced or relinked.
#include "state/state_watch.h"

#include "support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <cstdio>

using namespace quillnest;
using namespace quillnest::test;

class TestStateWatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noticesChanges_data();
    void noticesChanges();
    void directoryMadeLater();
};

namespace {
int renamePath(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData());
}
int link(const char* to, const QString& at) {
    return ::symlink(to, QFile::encodeName(at).constData());
}
} // namespace

void TestStateWatch::noticesChanges_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("signals"); // how many changed() signals the change gives
    QTest::newRow("renamed into place") << "rename" << 1;
    QTest::newRow("renamed into place three times at once") << "rename burst" << 1;
    QTest::newRow("rewritten in place") << "rewrite" << 1;
    QTest::newRow("rewritten in 8 chunks 15 ms apart") << "chunks" << 1;
    QTest::newRow("rewritten for 600 ms without a pause") << "endless" << 1; // once it ended
    QTest::newRow("deleted") << "delete" << 1;
    QTest::newRow("another file in the folder") << "neighbour" << 0;
    QTest::newRow("folder moved away, another moved in") << "swap folder" << 1;
    QTest::newRow("folder moved away, a link made") << "swap link" << 1;
    QTest::newRow("link retargeted, as ln -sfn does") << "retarget" << 1;
    // Elsewhere than in the parent folder nothing is told: the timer's recheck finds it.
    QTest::newRow("link's target swapped, then rechecked") << "target swapped" << 0;
}

void TestStateWatch::noticesChanges() {
    QFETCH(QString, change);
    QFETCH(int, signals);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString dir = root.filePath(QStringLiteral("home"));
    const QString file = dir + QStringLiteral("/state.json");
    const QString fresh = dir + QStringLiteral("/state.json.new");
    writeFile(root.filePath(QStringLiteral("a/state.json")), "{}");
    writeFile(root.filePath(QStringLiteral("b/state.json")), "[]");
    writeFile(root.filePath(QStringLiteral("x/a/state.json")), "{}");
    writeFile(root.filePath(QStringLiteral("x/b/state.json")), "[]");
    if (change == QLatin1String("retarget"))
        QCOMPARE(link("a", dir), 0);
    else if (change == QLatin1String("target swapped"))
        QCOMPARE(link("x/a", dir), 0);
    else
        QCOMPARE(renamePath(root.filePath(QStringLiteral("a")), dir), 0);

    StateWatch watch(dir);
    QSignalSpy changed(&watch, &StateWatch::changed);
    const auto renameInto = [&](const QByteArray& content) {
        writeFile(fresh, content);
        QCOMPARE(renamePath(fresh, file), 0);
    };
    if (change == QLatin1String("rename")) {
        renameInto(R"({"projects":{}})");
    } else if (change == QLatin1String("rename burst")) {
        for (int i = 0; i < 3; ++i)
            renameInto(QByteArray::number(i));
    } else if (change == QLatin1String("rewrite")) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
        f.write(" ");
    } else if (change == QLatin1String("chunks") || change == QLatin1String("endless")) {
        const bool endless = change == QLatin1String("endless");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QElapsedTimer clock;
        clock.start();
        qint64 longestGap = 0;
        for (int i = 0; i < (endless ? 150 : 8); ++i) {
            QTest::qWait(endless ? 4 : 15);
            longestGap = std::max(longestGap, clock.restart());
            QVERIFY(f.write("[]  ") == 4 && f.flush());
        }
        if (endless) {
            QVERIFY(changed.count() > 0); // read while it was being written
            changed.clear();
            QVERIFY(watch.changing());
            watch.signalWhenQuiet();  // told again only once the file is left alone
        } else if (longestGap > 35) { // then a read in between is right
            QSKIP("the writer stalled for longer than the watch waits for a pause");
        }
    } else if (change == QLatin1String("delete")) {
        QVERIFY(QFile::remove(file));
    } else if (change == QLatin1String("neighbour")) {
        writeFile(dir + QStringLiteral("/state.lock"), "");
    } else if (change == QLatin1String("retarget")) {
        QCOMPARE(link("b", dir + QStringLiteral(".new")), 0);
        QCOMPARE(renamePath(dir + QStringLiteral(".new"), dir), 0);
    } else if (change == QLatin1String("target swapped")) {
        QCOMPARE(renamePath(root.filePath(QStringLiteral("x/a")),
                            root.filePath(QStringLiteral("x/old"))),
                 0);
        QCOMPARE(
            renamePath(root.filePath(QStringLiteral("x/b")), root.filePath(QStringLiteral("x/a"))),
            0);
        QTest::qWait(100);
        watch.recheck();
    } else {
        QCOMPARE(renamePath(dir, dir + QStringLiteral(".old")), 0);
        QCOMPARE(change == QLatin1String("swap link")
                     ? link("b", dir)
                     : renamePath(root.filePath(QStringLiteral("b")), dir),
                 0);
    }
    // Long enough for any signal to arrive; the count is what is judged.
    QTest::qWait(400);
    QCOMPARE(changed.count(), signals);
    if (change == QLatin1String("endless")) {
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), signals + 1, 5000);
        QVERIFY(!watch.changing());
        changed.removeLast();
    }

    // The watch still follows the file after the change (a renamed file is a new file, a swapped
    // folder a new folder).
    renameInto(R"({"again":1})");
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), signals + 1, 5000);
}

// A state directory that does not exist yet is noticed when the tool creates it and its file.
void TestStateWatch::directoryMadeLater() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString stateDir = dir.filePath(QStringLiteral("home/.quillnest"));
    StateWatch watch(stateDir);
    QSignalSpy changed(&watch, &StateWatch::changed);
    QVERIFY(QDir().mkpath(stateDir));
    QTest::qWait(200);
    QCOMPARE(changed.count(), 0); // a folder is no state
    writeFile(stateDir + QStringLiteral("/state.json"), "{}");
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 5000);
}

QTEST_GUILESS_MAIN(TestStateWatch)
#include "test_state_watch.moc"
