#include "state/summary.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillnest;
using namespace quillnest::test;

namespace {

// Paths under /p/ exist, all others do not.
QString iso(const std::optional<QDateTime>& date) {
    return date ? date->toString(Qt::ISODate) : QString();
}

// A state file listing `paths`, each with one secret.
QByteArray stateListing(const QStringList& paths) {
    QJsonObject projects;
    for (const QString& path : paths)
        projects.insert(path, QJsonObject{{u"secrets"_qs, 1}});
    return QJsonDocument(QJsonObject{{u"projects"_qs, projects}}).toJson();
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

class TestStateReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void summarize_data();
    void summarize();
    void counts_data();
    void counts();
    void pathExists_data();
    void pathExists();
    void realFoldersWithOddNames();
    void relativeKeyResolvesAgainstWorkingDirectory();
    void unreadableStateFile_data();
    void unreadableStateFile();
    void largeFile();
    void rewrittenWhileRead_data();
    void rewrittenWhileRead();
};

void TestStateReader::summarize_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("projects");
    QTest::addColumn<qint64>("secrets");
    QTest::addColumn<qint64>("warn");
    QTest::addColumn<qint64>("conflicts");
    QTest::addColumn<QString>("synced");
    QTest::addColumn<QString>("checked");

    const auto row = [](const char* name, const QByteArray& json, const QStringList& projects = {},
                        qint64 secrets = 0, qint64 warn = 0, qint64 conflicts = 0,
                        const QString& synced = {}, const QString& checked = {}) {
        QTest::newRow(name) << json << projects << secrets << warn << conflicts << synced
                            << checked;
    };
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();

    // Nothing usable at the top.
    row("empty text", "");
    row("white space", " \n");
    row("empty object", "{}");
    row("empty projects", R"({"projects":{}})");
    row("top-level array", R"([{"projects":{"/p/a":{}}}])");
    row("top-level string", R"("projects")");
    row("top-level number", "1");
    row("top-level true", "true");
    row("top-level null", "null");
    row("projects null", R"({"projects":null})");
    row("projects an array of paths", R"({"projects":["/p/a","/p/b"]})");
    row("projects a string", R"({"projects":"/p/a"})");
    row("truncated", R"({"projects":{"/p/a":{"secrets":1})");
    row("trailing garbage", R"({"projects":{"/p/a":{"secrets":1}}} x)");
    row("not UTF-8 in a key", "{\"projects\":{\"/p/\xff\":{\"secrets\":1}}}");
    row("not UTF-8 in a value", "{\"projects\":{\"/p/a\":{\"synced\":\"\xc3\"}}}");
    row("NUL byte after the object", QByteArray("{\"projects\":{\"/p/a\":{}}}\0", 25));

    // Projects and counts.
    row("other keys ignored",
        R"({"version":2,"projects":{"/p/a":{"secrets":1,"note":"x"}},"secrets":99})", {u"/p/a"_qs},
        1);
    row("counts add up",
        R"({"projects":{"/p/one":{"secrets":1,"warn":0},
                        "/p/two":{"secrets":2,"warn":3,"conflicts":4}}})",
        {u"/p/one"_qs, u"/p/two"_qs}, 3, 3, 4);
    row("missing folder contributes nothing",
        R"({"projects":{"/p/a":{"secrets":1,"synced":"2024-05-01T10:00:00Z"},
                        "/gone/b":{"secrets":50,"warn":50,"conflicts":50,
                                   "synced":"2030-01-01T00:00:00Z",
                                   "checked":"2030-01-01T00:00:00Z"}}})",
        {u"/p/a"_qs}, 1, 0, 0, u"2024-05-01T10:00:00Z"_qs);
    row("entry that is not an object",
        R"({"projects":{"/p/a":[1],"/p/b":3,"/p/c":"x","/p/d":null,"/p/e":true,"/p/f":{}}})",
        {u"/p/f"_qs});
    row("negative counts added as they are",
        R"({"projects":{"/p/a":{"warn":5},"/p/b":{"warn":-7}}})", {u"/p/a"_qs, u"/p/b"_qs}, 0, -2);
    row("count out of double range",
        R"({"projects":{"/p/a":{"secrets":1e400,"warn":-1e-400,"conflicts":2,
                                "x":[1E+999,"1e400"]}}})",
        {u"/p/a"_qs}, 0, 0, 2);
    row("invalid number still fails", R"({"projects":{"/p/a":{"secrets":1e400,"warn":+1}}})");
    row("totals saturate upwards",
        R"({"projects":{"/p/a":{"secrets":9223372036854775807},"/p/b":{"secrets":1},
                        "/p/c":{"secrets":9223372036854775807}}})",
        {u"/p/a"_qs, u"/p/b"_qs, u"/p/c"_qs}, max);
    row("totals saturate downwards",
        R"({"projects":{"/p/a":{"warn":-9223372036854775808},"/p/b":{"warn":-1}}})",
        {u"/p/a"_qs, u"/p/b"_qs}, 0, min);
    row("the true total when it fits, whatever the order",
        R"({"projects":{"/p/a":{"conflicts":9223372036854775807},"/p/b":{"conflicts":1},
                        "/p/c":{"conflicts":-1},"/p/d":{"conflicts":9223372036854775807},
                        "/p/e":{"conflicts":-9223372036854775807}}})",
        {u"/p/a"_qs, u"/p/b"_qs, u"/p/c"_qs, u"/p/d"_qs, u"/p/e"_qs}, 0, 0, max);
    row("integral values of every form",
        R"({"projects":{"/p/a":{"secrets":2.0,"warn":-0,"conflicts":1e2},
                        "/p/b":{"secrets":-0.0,"warn":0.25e1,"conflicts":9223372036854775808},
                        "/p/c":{"secrets":true,"warn":"4","conflicts":-9223372036854775808}}})",
        {u"/p/a"_qs, u"/p/b"_qs, u"/p/c"_qs}, 2, 0, 100 + min);
    // Order of projects.
    row("ascending by code point, capitals first",
        R"({"projects":{"/p/b":{},"/p/a":{},"/p/A":{}}})", {u"/p/A"_qs, u"/p/a"_qs, u"/p/b"_qs});
    row("supplementary planes after U+FFFD",
        R"({"projects":{"/p/\ud83d\ude00":{},"/p/\ufffd":{},"/p/\ue000":{},"/p/z":{}}})",
        {u"/p/z"_qs, u"/p/\ue000"_qs, u"/p/\ufffd"_qs, u"/p/\U0001F600"_qs});
    row("compared after canonical composition", R"({"projects":{"/p/A\u030a":{},"/p/B":{}}})",
        {u"/p/B"_qs, u"/p/A\u030a"_qs});
    row("canonically equal keys both listed", R"({"projects":{"/p/\u00c5":{},"/p/A\u030a":{}}})",
        {u"/p/A\u030a"_qs, u"/p/\u00c5"_qs});

    // Dates.
    row("dates compared as instants",
        R"({"projects":{"/p/a":{"synced":"2024-05-01T10:00:00Z"},
                        "/p/b":{"synced":"2024-05-01T12:30:00+03:00"}}})",
        {u"/p/a"_qs, u"/p/b"_qs}, 0, 0, 0, u"2024-05-01T10:00:00Z"_qs);
    row("latest of each kind, independently",
        R"({"projects":{"/p/a":{"synced":"2024-05-03T00:00:00Z","checked":"2024-05-01T00:00:00Z"},
                        "/p/b":{"synced":"2024-05-02T00:00:00Z","checked":"2024-05-04T00:00:00Z"}}})",
        {u"/p/a"_qs, u"/p/b"_qs}, 0, 0, 0, u"2024-05-03T00:00:00Z"_qs, u"2024-05-04T00:00:00Z"_qs);
    row("equal instants",
        R"({"projects":{"/p/a":{"checked":"2024-05-01T10:00:00+02:00"},
                        "/p/b":{"checked":"2024-05-01T08:00:00Z"}}})",
        {u"/p/a"_qs, u"/p/b"_qs}, 0, 0, 0, {}, u"2024-05-01T08:00:00Z"_qs);
    row("dates not accepted",
        R"({"projects":{"/p/a":{"synced":"2024-05-01T10:00:00.5Z","checked":"2024-05-01"},
                        "/p/b":{"synced":1714557600,"checked":null},
                        "/p/c":{"synced":["2024-05-01T10:00:00Z"],"checked":"2023-02-29T00:00:00Z"}}})",
        {u"/p/a"_qs, u"/p/b"_qs, u"/p/c"_qs});
    row("a bad date leaves the good one",
        R"({"projects":{"/p/a":{"synced":"2024-05-01T10:00:00Z"},"/p/b":{"synced":"2099-01-01"}}})",
        {u"/p/a"_qs, u"/p/b"_qs}, 0, 0, 0, u"2024-05-01T10:00:00Z"_qs);
}

void TestStateReader::summarize() {
    QFETCH(QByteArray, json);
    QFETCH(QStringList, projects);
    QFETCH(qint64, secrets);
    QFETCH(qint64, warn);
    QFETCH(qint64, conflicts);
    QFETCH(QString, synced);
    QFETCH(QString, checked);

    const Summary summary = quillnest::summarize(json, underP);
    QCOMPARE(summary.projects, projects);
    QCOMPARE(summary.secrets, secrets);
    QCOMPARE(summary.warn, warn);
    QCOMPARE(summary.conflicts, conflicts);
    QCOMPARE(iso(summary.synced), synced);
    QCOMPARE(iso(summary.checked), checked);
    if (summary.synced)
        QCOMPARE(summary.synced->timeSpec(), Qt::UTC);
}

void TestStateReader::counts_data() {
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<bool>("counts");
    QTest::addColumn<qint64>("value");

    QTest::newRow("integer") << QByteArray("3") << true << qint64(3);
    QTest::newRow("negative zero") << QByteArray("-0") << true << qint64(0);
    QTest::newRow("negative zero as fraction") << QByteArray("-0.0") << true << qint64(0);
    QTest::newRow("integral fraction") << QByteArray("2.0") << true << qint64(2);
    QTest::newRow("exponent") << QByteArray("1e18") << true << qint64(1000000000000000000);
    QTest::newRow("beyond 2^53, exact")
        << QByteArray("9007199254740993") << true << qint64(9007199254740993);
    QTest::newRow("largest") << QByteArray("9223372036854775807") << true
                             << std::numeric_limits<qint64>::max();
    QTest::newRow("smallest") << QByteArray("-9223372036854775808") << true
                              << std::numeric_limits<qint64>::min();
    QTest::newRow("one past largest") << QByteArray("9223372036854775808") << false << qint64(0);
    QTest::newRow("huge") << QByteArray("99999999999999999999") << false << qint64(0);
    QTest::newRow("fraction") << QByteArray("2.5") << false << qint64(0);
    QTest::newRow("string") << QByteArray("\"3\"") << false << qint64(0);
    QTest::newRow("true") << QByteArray("true") << false << qint64(0);
    QTest::newRow("null") << QByteArray("null") << false << qint64(0);
}

// A count literal as the secrets of one project: what it adds to the total.
void TestStateReader::counts() {
    QFETCH(QByteArray, literal);
    QFETCH(bool, counts);
    QFETCH(qint64, value);

    const Summary summary =
        quillnest::summarize(R"({"projects":{"/p/a":{"secrets":)" + literal + "}}}", underP);
    QCOMPARE(summary.projects, QStringList{u"/p/a"_qs});
    QCOMPARE(summary.secrets, counts ? value : 0);
}

void TestStateReader::pathExists_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("exists");

    QTest::newRow("folder") << u"folder"_qs << true;
    QTest::newRow("regular file") << u"file"_qs << true;
    QTest::newRow("link to folder") << u"link"_qs << true;
    QTest::newRow("dangling link") << u"dangling"_qs << false;
    QTest::newRow("deleted folder") << u"deleted"_qs << false;
    QTest::newRow("folder with NUL and junk after it") << u"nul"_qs << false;
    QTest::newRow("unpaired surrogate") << u"surrogate"_qs << false;
    QTest::newRow("empty") << u"empty"_qs << false;
}

void TestStateReader::pathExists() {
    QFETCH(QString, kind);
    QFETCH(bool, exists);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString base = temp.path();
    QVERIFY(QDir(base).mkdir(u"folder"_qs));
    writeFile(base + u"/file"_qs, "x");
    QVERIFY(QFile::link(base + u"/folder"_qs, base + u"/link"_qs));
    QVERIFY(QFile::link(base + u"/nowhere"_qs, base + u"/dangling"_qs));
    QVERIFY(QDir(base).mkdir(u"deleted"_qs));
    QVERIFY(QDir(base).rmdir(u"deleted"_qs));

    QString path = base + u'/' + kind;
    if (kind == u"nul")
        path = base + u"/folder"_qs + QChar(0) + u"junk"_qs;
    else if (kind == u"surrogate")
        path = base + u"/folder"_qs + QChar(0xD800);
    else if (kind == u"empty")
        path.clear();
    QCOMPARE(quillnest::pathExists(path), exists);
}

// The reader on real folders: names with spaces, markup, quotes and non-ASCII letters are keys
// like any other, a regular file counts as a project and a deleted folder does not.
void TestStateReader::realFoldersWithOddNames() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString base = temp.path();
    const QStringList names = {u"my project"_qs, u"R&D"_qs,  u"<b>x&lt;"_qs,
                               u"say \"hi\""_qs, u"it's"_qs, u"проект ёлка"_qs};
    QStringList expected;
    for (const QString& name : names) {
        QVERIFY(QDir(base).mkdir(name));
        expected << base + u'/' + name;
    }
    writeFile(base + u"/plain file"_qs, "x");
    expected << base + u"/plain file"_qs;
    std::sort(expected.begin(), expected.end());

    const QString state = base + u"/state dir"_qs;
    QVERIFY(QDir(base).mkdir(u"state dir"_qs));
    writeFile(state + u"/state.json"_qs,
              stateListing(QStringList(expected) << base + u"/deleted"_qs << QString()));

    const Summary summary = readState(state);
    QCOMPARE(summary.projects, expected);
    QCOMPARE(summary.secrets, qint64(expected.size()));
}

void TestStateReader::relativeKeyResolvesAgainstWorkingDirectory() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(QDir(temp.path()).mkpath(u"work/here"_qs));
    writeFile(temp.filePath(u"state.json"_qs),
              stateListing({u"here"_qs, u"./here"_qs, u"elsewhere"_qs}));

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(temp.filePath(u"work"_qs)));
    const Summary summary = readState(temp.path());
    QVERIFY(QDir::setCurrent(before));
    QCOMPARE(summary.projects, QStringList({u"./here"_qs, u"here"_qs}));
}

void TestStateReader::unreadableStateFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("no state directory") << u"no directory"_qs;
    QTest::newRow("no state file") << u"no file"_qs;
    QTest::newRow("state file is a folder") << u"folder"_qs;
    QTest::newRow("state file is a FIFO without writer") << u"fifo"_qs;
    QTest::newRow("state file unreadable") << u"unreadable"_qs;
    QTest::newRow("directory joined as text") << u"trailing slash"_qs;
}

void TestStateReader::unreadableStateFile() {
    QFETCH(QString, kind);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(QDir(temp.path()).mkdir(u"project"_qs));
    const QByteArray listing = stateListing({temp.filePath(u"project"_qs)});
    const QString file = temp.filePath(u"state.json"_qs);
    QString dir = temp.path();

    if (kind == u"no directory") {
        dir += u"/missing"_qs;
    } else if (kind == u"folder") {
        QVERIFY(QDir(temp.path()).mkdir(u"state.json"_qs));
    } else if (kind == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else if (kind == u"unreadable") {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        writeFile(file, listing);
        QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
    } else if (kind == u"trailing slash") {
        // "dir/" + "/state.json" still names the file: the path is not normalised, and the
        // system treats the double slash as one.
        writeFile(file, listing);
        QCOMPARE(readState(dir + u'/').projects.size(), 1);
        return;
    }
    QCOMPARE(readState(dir), Summary());
    QVERIFY(readStateFile(dir).file == StateFile::Missing);
}

// Files far larger or deeper than the tool ever writes are read or refused without harm.
void TestStateReader::largeFile() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(QDir(temp.path()).mkdir(u"project"_qs));
    const QString file = temp.filePath(u"state.json"_qs);

    // About 50 MB: one project, then a long array of numbers the reader ignores.
    QByteArray big = R"({"projects":{")" + QFile::encodeName(temp.filePath(u"project"_qs)) +
                     R"(":{"secrets":2,"synced":"2024-05-01T10:00:00Z"}},"padding":[)";
    const QByteArray chunk = "1234567,";
    big.reserve(51 * 1024 * 1024);
    while (big.size() < 50 * 1024 * 1024)
        big += chunk;
    big += "0]}";
    writeFile(file, big);
    Summary summary = readState(temp.path());
    QCOMPARE(summary.projects.size(), 1);
    QCOMPARE(summary.secrets, qint64(2));
    QCOMPARE(iso(summary.synced), u"2024-05-01T10:00:00Z"_qs);

    big.chop(1); // truncated
    writeFile(file, big);
    QCOMPARE(readState(temp.path()), Summary());
    QVERIFY(readStateFile(temp.path()).file == StateFile::Malformed);

    big.fill('\xff');
    writeFile(file, big);
    QCOMPARE(readState(temp.path()), Summary());

    const int depth = 100000;
    writeFile(file, R"({"projects":)" + QByteArray(depth, '[') + QByteArray(depth, ']') + "}");
    QCOMPARE(readState(temp.path()), Summary());
    writeFile(file, QByteArray(depth, '{'));
    QCOMPARE(readState(temp.path()), Summary());
}

// A writer thread replaces the state file over and over while it is read in a loop. Every read
// must give one of the written states or the empty one, whatever moment it reads at. The states
// list the first few of the same projects, so two of them agree byte for byte up to where the
// shorter closes its projects: a read that mixes the bytes of two is one of them or not JSON.
void TestStateReader::rewrittenWhileRead_data() {
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("atomic rename") << false;
    QTest::newRow("truncated in place") << true;
}

void TestStateReader::rewrittenWhileRead() {
    QFETCH(bool, inPlace);
    constexpr int rewrites = 300;
    QTemporaryDir temp;
    QVERIFY(temp.isValid());

    // Real project folders, so that existence checks keep them; enough of them that the largest
    // state spans several pages.
    QStringList projects;
    for (int i = 0; i < 120; ++i) {
        projects.append(
            temp.filePath(QStringLiteral("projects/R&D \"%1\" проект").arg(i, 3, 10, QChar(u'0'))));
        QVERIFY(QDir().mkpath(projects.last()));
    }
    const QString file = temp.filePath(QStringLiteral("state.json"));
    QList<QByteArray> states;
    QList<Summary> valid{Summary{}};
    for (const qsizetype count : {1, 120, 7, 40}) {
        states.append(stateListing(projects.first(count)));
        writeFile(file, states.last());
        valid.append(readState(temp.path()));
        QCOMPARE(valid.last().projects.size(), count);
    }

    std::atomic<int> reads{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> written{false};
    std::thread writer([&] {
        const QByteArray target = QFile::encodeName(file);
        const QByteArray temporary = target + ".tmp";
        // At least `rewrites` rewrites, and on until the reader has read as many times.
        for (int i = 0; !stop && !failed && (i < rewrites || reads < rewrites); ++i) {
            const QByteArray& state = states[i % states.size()];
            if (inPlace) {
                // Two writes, so that a reader also meets half a file.
                const int fd = ::open(target.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                const size_t half = size_t(state.size()) / 2;
                if (fd < 0 || !writeAll(fd, state.constData(), half) ||
                    !writeAll(fd, state.constData() + half, size_t(state.size()) - half))
                    failed = true;
                if (fd >= 0)
                    ::close(fd);
            } else {
                const int fd =
                    ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0 || !writeAll(fd, state.constData(), size_t(state.size())))
                    failed = true;
                if (fd >= 0)
                    ::close(fd);
                if (::rename(temporary.constData(), target.constData()) != 0)
                    failed = true;
            }
        }
        written = true;
    });
    // A read between the truncation and the end of the writes is never taken for a whole file.
    // Ends the writer also when a check below returns early.
    struct Stop {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Stop() {
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    } stopWriter{stop, writer};

    int nonEmpty = 0;
    while (!written) {
        const auto [summary, file] = readStateFile(temp.path());
        QVERIFY2(valid.contains(summary), qPrintable(summary.projects.join(u'|')));
        QVERIFY(summary.projects.isEmpty() == (file == StateFile::Malformed));
        nonEmpty += !summary.projects.isEmpty();
        ++reads;
    }
    writer.join();
    QVERIFY(!failed);
    if (!inPlace)
        QCOMPARE(nonEmpty, int(reads)); // a renamed file is always whole
}

QTEST_APPLESS_MAIN(TestStateReader)
#include "test_state_reader.moc"
