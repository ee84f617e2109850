// State files that no tool writes but a broken disk, a stray command or a fuzzer can produce: sizes
// that do not fit in memory, and texts that end inside a string.
#include "state/summary.h"
#include "support/test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quillnest;
using namespace quillnest::test;

namespace {} // namespace

class TestStateBadInput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oversizedFileIsNotRead_data();
    void oversizedFileIsNotRead();
    void textEndsInsideString_data();
    void textEndsInsideString();
};

void TestStateBadInput::oversizedFileIsNotRead_data() {
    QTest::addColumn<qint64>("size");
    QTest::newRow("one byte over 256 MiB") << (qint64(256) << 20) + 1;
    // Used to be allocated whole, and the failed allocation ended the process.
    QTest::newRow("100 GiB") << (qint64(100) << 30);
}

// Sparse files: they take no room on disk, but reading them would take it in memory.
void TestStateBadInput::oversizedFileIsNotRead() {
    QFETCH(qint64, size);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("state.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write("{\"projects\":{\"/\":{\"secrets\":1}}}") > 0);
    if (!file.resize(size))
        QSKIP("the file system holds no sparse file of this size");
    file.close();
    QCOMPARE(readState(dir.path()), Summary());
}

// Texts that hold a number beyond the range of a double, which counts as nothing, and end inside a
// string, right after a backslash or on an escaped one.
void TestStateBadInput::textEndsInsideString_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<qint64>("warn");
    QTest::newRow("ends after a backslash")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1e400,"warn":2}},"x":"\)") << qint64(0);
    QTest::newRow("ends inside a string")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1e400,"warn":2}},"x":"abc)") << qint64(0);
    QTest::newRow("ends with a lone quote")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1e400,"warn":2}},")") << qint64(0);
    QTest::newRow("escaped backslash before the closing quote")
        << QByteArray(R"({"x":"a\\","projects":{"/p/a":{"secrets":-1e400,"warn":2}}})")
        << qint64(2);
    QTest::newRow("escaped quote inside a key")
        << QByteArray(R"({"projects":{"/p/\"1e400\"":{"warn":3,"conflicts":1e999}}})") << qint64(3);
}

void TestStateBadInput::textEndsInsideString() {
    QFETCH(QByteArray, json);
    QFETCH(qint64, warn);
    const Summary summary = summarize(json, underP);
    QCOMPARE(summary.warn, warn);
    QCOMPARE(summary.secrets, qint64(0));
    QCOMPARE(summary.projects.size(), warn != 0 ? 1 : 0);
}

QTEST_MAIN(TestStateBadInput)
#include "test_state_bad_input.moc"
