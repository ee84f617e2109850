// The state watch against a real file system: each way the tool may change the state file is
// noticed, bursts fold into one signal, and changes beside the file are not reported.
#include "state/state_watch.h"

#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
        QCOMPARE(
            std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(file).constData()),
            0);
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

QTEST_GUILESS_MAIN(TestStateWatch)
#include "test_state_watch.moc"
