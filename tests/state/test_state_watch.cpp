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

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace quillnest;
using namespace quillnest::test;

class TestStateWatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noticesChanges_data();
    void noticesChanges();
    void directoryMadeLater();
    void rewrittenInPlace_data();
    void rewrittenInPlace();
    void directorySwapped_data();
    void directorySwapped();
};

namespace {
int renamePath(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData());
}
} // namespace

void TestStateWatch::noticesChanges_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("signals"); // how many changed() signals the change gives
    QTest::newRow("renamed into place") << "rename" << 1;
    QTest::newRow("renamed into place three times at once") << "rename burst" << 1;
    QTest::newRow("rewritten in place") << "rewrite" << 1;
    QTest::newRow("deleted") << "delete" << 1;
    QTest::newRow("another file in the folder") << "neighbour" << 0;
}

void TestStateWatch::noticesChanges() {
    QFETCH(QString, change);
    QFETCH(int, signals);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("state.json"));
    const QString fresh = dir.filePath(QStringLiteral("state.json.new"));
    writeFile(file, "{}");

    StateWatch watch(dir.path());
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
    } else if (change == QLatin1String("delete")) {
        QVERIFY(QFile::remove(file));
    } else {
        writeFile(dir.filePath(QStringLiteral("state.lock")), "");
    }
    // Long enough for any signal to arrive; the count is what is judged.
    QTest::qWait(400);
    QCOMPARE(changed.count(), signals);

    // The watch still follows the file after the change (a renamed file is a new file).
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

// A file rewritten in place by a writer on another thread: it is read once the writes have paused,
// never half-written, and a writer that never pauses is still read while it writes.
void TestStateWatch::rewrittenInPlace_data() {
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("gapMs");
    QTest::newRow("8 chunks 15 ms apart") << 8 << 15;
    QTest::newRow("a writer that never pauses") << 150 << 4;
}

void TestStateWatch::rewrittenInPlace() {
    QFETCH(int, chunks);
    QFETCH(int, gapMs);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("state.json"));
    writeFile(file, "{}");
    const QByteArray whole = QByteArray(64, 'x').repeated(chunks);

    StateWatch watch(dir.path());
    std::atomic<bool> writing = true;
    QByteArrayList seen; // the file's content at each signal
    bool seenWhileWriting = false;
    connect(&watch, &StateWatch::changed, [&] {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        seen << f.readAll();
        seenWhileWriting |= writing;
    });
    std::atomic<long long> longestGapMs = 0;
    std::thread writer([&] {
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            QElapsedTimer gap;
            for (int i = 0; i < chunks; ++i) {
                if (gap.isValid())
                    longestGapMs = std::max<long long>(longestGapMs, gap.elapsed());
                f.write(whole.first(64));
                f.flush();
                gap.start();
                std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            }
        }
        writing = false;
    });
    QTRY_VERIFY_WITH_TIMEOUT(!writing, 10000);
    writer.join();
    QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty() && seen.last() == whole, 5000);
    QTest::qWait(200);
    if (chunks * gapMs > 400) {
        QVERIFY(seenWhileWriting);
    } else {
        // Reading 40 ms after the last event is right when the writer itself stalled that long.
        if (longestGapMs >= 35)
            QSKIP("the writer paused longer than the settle time");
        QCOMPARE(seen, QByteArrayList{whole});
    }
}

// The state directory replaced as a whole, by a rename or a symbolic link: the watch follows the
// new folder at once, and later changes in it are seen too.
void TestStateWatch::directorySwapped_data() {
    QTest::addColumn<QString>("swap");
    QTest::newRow("moved away, new folder moved in") << "folder";
    QTest::newRow("moved away, link to another folder made") << "link";
    QTest::newRow("link retargeted") << "retarget";
}

void TestStateWatch::directorySwapped() {
    QFETCH(QString, swap);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString home = root.filePath(QStringLiteral("home"));
    const QString other = root.filePath(QStringLiteral("other"));
    const QString first = root.filePath(QStringLiteral("first"));
    writeFile(other + QStringLiteral("/state.json"), "2");
    writeFile(first + QStringLiteral("/state.json"), "1");
    if (swap == QLatin1String("retarget"))
        QCOMPARE(::symlink("first", QFile::encodeName(home).constData()), 0);
    else
        QCOMPARE(renamePath(first, home), 0);

    StateWatch watch(home);
    QSignalSpy changed(&watch, &StateWatch::changed);
    if (swap == QLatin1String("folder")) {
        QCOMPARE(renamePath(home, home + QStringLiteral(".old")), 0);
        QCOMPARE(renamePath(other, home), 0);
    } else if (swap == QLatin1String("link")) {
        QCOMPARE(renamePath(home, home + QStringLiteral(".old")), 0);
        QCOMPARE(::symlink("other", QFile::encodeName(home).constData()), 0);
    } else { // as ln -sfn does: a new link renamed over the old one
        QCOMPARE(::symlink("other", QFile::encodeName(home + QStringLiteral(".new")).constData()),
                 0);
        QCOMPARE(renamePath(home + QStringLiteral(".new"), home), 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, 5000); // another folder, another file
    QTest::qWait(100);
    const int before = changed.count();
    writeFile(home + QStringLiteral("/state.json.new"), "3");
    QCOMPARE(
        renamePath(home + QStringLiteral("/state.json.new"), home + QStringLiteral("/state.json")),
        0);
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), before + 1, 5000);
}

QTEST_GUILESS_MAIN(TestStateWatch)
#include "test_state_watch.moc"
