#include "tool/cli_path.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace quillnest;

namespace {

bool writeFile(const QString& path, const QByteArray& content, bool executable) {
    if (!QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/')))))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), executable ? 0755 : 0644) == 0;
}

bool writeTool(const QString& path) {
    return writeFile(path, "#!/bin/sh\nexit 0\n", true);
}

} // namespace

class TestCliPath : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void candidateOrder_data();
    void candidateOrder();
    void choice_data();
    void choice();
    void executableFile_data();
    void executableFile();
    void utf8File_data();
    void utf8File();
    void resourceDirClean();
};

// Which paths are tested and read, in which order: plain concatenation, nothing normalised.
void TestCliPath::candidateOrder_data() {
    QTest::addColumn<QString>("resourceDir");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("resource directory known")
        << QStringLiteral("/R/x/../share")
        << QStringList{QStringLiteral("exec /R/x/../share/tool/bin/quillnest"),
                       QStringLiteral("read /R/x/../share/cli"),
                       QStringLiteral("exec /pointed at"),
                       QStringLiteral("exec ~h/.local/bin/quillnest"),
                       QStringLiteral("exec /usr/local/bin/quillnest"),
                       QStringLiteral("exec /opt/homebrew/bin/quillnest")};
    QTest::newRow("no resource directory")
        << QString()
        << QStringList{QStringLiteral("exec /tool/bin/quillnest"),
                       QStringLiteral("read /cli"),
                       QStringLiteral("exec /pointed at"),
                       QStringLiteral("exec ~h/.local/bin/quillnest"),
                       QStringLiteral("exec /usr/local/bin/quillnest"),
                       QStringLiteral("exec /opt/homebrew/bin/quillnest")};
}

void TestCliPath::candidateOrder() {
    QFETCH(QString, resourceDir);
    QFETCH(QStringList, expected);
    QStringList calls;
    CliPathInputs in;
    in.resourceDir = resourceDir;
    in.home = QStringLiteral("~h");
    in.isExecutable = [&](const QString& p) {
        calls << QStringLiteral("exec ") + p;
        return false;
    };
    in.readUtf8 = [&](const QString& p) -> std::optional<QString> {
        calls << QStringLiteral("read ") + p;
        return QStringLiteral(" \t/pointed at\r\n\u2028");
    };
    QCOMPARE(cliPathFrom(in), QStringLiteral("quillnest"));
    QCOMPARE(calls, expected);
}

// Real files in a temporary tree for the bundle, pointer and home candidates; the two fixed system
// paths and relative paths through a fake executability test. "%T" in the pointer stands for the
// temporary tree.
void TestCliPath::choice_data() {
    QTest::addColumn<QStringList>("tools");      // executables created under %T
    QTest::addColumn<QStringList>("plainFiles"); // non-executable files created under %T
    QTest::addColumn<QStringList>("system");     // other paths taken as executable
    QTest::addColumn<QByteArray>("pointer");     // content of res/cli; null: no pointer file
    QTest::addColumn<QString>("expected");

    const QString bundled = QStringLiteral("%T/res dir/tool/bin/quillnest");
    const QString pointed = QStringLiteral("%T/opt q/bin/quillnest");
    const QString home = QStringLiteral("%T/home ü/.local/bin/quillnest");
    const QString usrLocal = QStringLiteral("/usr/local/bin/quillnest");
    const QString homebrew = QStringLiteral("/opt/homebrew/bin/quillnest");
    const QByteArray pointer = "%T/opt q/bin/quillnest";

    QTest::newRow("nothing anywhere") << QStringList{} << QStringList{} << QStringList{}
                                      << QByteArray() << QStringLiteral("quillnest");
    QTest::newRow("bundled beats everything")
        << QStringList{bundled, pointed, home} << QStringList{} << QStringList{usrLocal, homebrew}
        << pointer << bundled;
    QTest::newRow("pointer with blank and line break")
        << QStringList{pointed, home} << QStringList{} << QStringList{usrLocal}
        << (" " + pointer + "\n") << pointed;
    QTest::newRow("pointer with tabs, CRLF and no-break space")
        << QStringList{pointed} << QStringList{} << QStringList{}
        << ("\t\r\n " + pointer + "\xc2\xa0\r\n\n") << pointed;
    QTest::newRow("pointer to non-ASCII path")
        << QStringList{QStringLiteral("%T/opt ё/quill&nest")} << QStringList{} << QStringList{}
        << QByteArray("%T/opt \xd1\x91/quill&nest\n") << QStringLiteral("%T/opt ё/quill&nest");
    QTest::newRow("pointer to missing file")
        << QStringList{home} << QStringList{} << QStringList{} << pointer << home;
    QTest::newRow("pointer to non-executable file")
        << QStringList{home} << QStringList{pointed} << QStringList{} << pointer << home;
    QTest::newRow("pointer to directory") << QStringList{home} << QStringList{} << QStringList{}
                                          << QByteArray("%T/opt q/bin") << home;
    QTest::newRow("empty pointer")
        << QStringList{home} << QStringList{} << QStringList{} << QByteArray("") << home;
    QTest::newRow("blank pointer")
        << QStringList{home} << QStringList{} << QStringList{} << QByteArray(" \n\t") << home;
    QTest::newRow("pointer not UTF-8") << QStringList{pointed, home} << QStringList{}
                                       << QStringList{} << (pointer + "\n\xff") << home;
    QTest::newRow("pointer with truncated UTF-8 sequence")
        << QStringList{pointed} << QStringList{} << QStringList{usrLocal} << (pointer + "\xd1")
        << usrLocal;
    QTest::newRow("pointer to a name in the working directory")
        << QStringList{} << QStringList{} << QStringList{QStringLiteral("x=y")} << QByteArray("x=y")
        << QStringLiteral("./x=y");
    QTest::newRow("pointer names second line")
        << QStringList{pointed} << QStringList{} << QStringList{} << ("x\n" + pointer)
        << QStringLiteral("quillnest");
    // Garbage in the pointer file, even around the path of a real tool, is passed over.
    QByteArray random(4096, Qt::Uninitialized);
    quint32 x = 2463534242u; // xorshift32: the same bytes every run
    for (char& byte : random) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = char(x);
    }
    const QList<QPair<const char*, QByteArray>> garbage{
        {"random bytes", random},
        {"invalid UTF-8", "\xff\xfe\xc3\x28\xa0\xa1\xe2\x28\xa1\xf0\x90"},
        {"controls and NUL", QByteArray("\x01\x02\x00\x7f\x1b[31m\x00", 10)},
        {"real tool, then NUL", pointer + QByteArray("\0garbage", 8)},
        {"real tool, then garbage line", pointer + "\n\x01\x02\x03"},
        {"byte-order mark only", "\xef\xbb\xbf"},
        {"4 MB of zeros", QByteArray(4 << 20, '\0')}};
    for (const auto& [name, content] : garbage)
        QTest::newRow(name) << QStringList{pointed, home} << QStringList{} << QStringList{}
                            << content << home;
    QTest::newRow("bundled not executable")
        << QStringList{home} << QStringList{bundled} << QStringList{} << QByteArray() << home;
    QTest::newRow("home beats system") << QStringList{home} << QStringList{}
                                       << QStringList{usrLocal, homebrew} << QByteArray() << home;
    QTest::newRow("only /usr/local")
        << QStringList{} << QStringList{} << QStringList{usrLocal} << QByteArray() << usrLocal;
    QTest::newRow("only /opt/homebrew")
        << QStringList{} << QStringList{} << QStringList{homebrew} << QByteArray() << homebrew;
    QTest::newRow("/usr/local beats /opt/homebrew")
        << QStringList{} << QStringList{} << QStringList{homebrew, usrLocal} << QByteArray()
        << usrLocal;
}

void TestCliPath::choice() {
    QFETCH(QStringList, tools);
    QFETCH(QStringList, plainFiles);
    QFETCH(QStringList, system);
    QFETCH(QByteArray, pointer);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    const auto expand = [&](QString s) { return s.replace(QLatin1String("%T"), root); };
    for (const QString& tool : tools)
        QVERIFY(writeTool(expand(tool)));
    for (const QString& file : plainFiles)
        QVERIFY(writeFile(expand(file), "#!/bin/sh\n", false));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/res dir")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/opt q/bin")));
    if (!pointer.isNull()) {
        QByteArray content = pointer;
        content.replace("%T", QFile::encodeName(root));
        QVERIFY(writeFile(root + QStringLiteral("/res dir/cli"), content, false));
    }

    const QSet<QString> systemSet(system.begin(), system.end());
    CliPathInputs in;
    in.resourceDir = root + QStringLiteral("/res dir");
    in.home = root + QStringLiteral("/home ü");
    in.isExecutable = [&](const QString& p) {
        return p.startsWith(root) ? isExecutableFile(p) : systemSet.contains(p);
    };
    in.readUtf8 = readUtf8File;
    QCOMPARE(cliPathFrom(in), expand(expected));
}

void TestCliPath::executableFile_data() {
    QTest::addColumn<QString>("setup"); // what is at the path
    QTest::addColumn<bool>("expected");
    QTest::newRow("executable file") << QStringLiteral("tool") << true;
    QTest::newRow("plain file") << QStringLiteral("plain") << false;
    QTest::newRow("directory") << QStringLiteral("dir") << false;
    QTest::newRow("missing") << QStringLiteral("missing") << false;
    QTest::newRow("link to executable") << QStringLiteral("link") << true;
    QTest::newRow("dangling link") << QStringLiteral("dangling") << false;
    QTest::newRow("empty path") << QStringLiteral("empty") << false;
    QTest::newRow("NUL inside") << QStringLiteral("nul") << false;
}

void TestCliPath::executableFile() {
    QFETCH(QString, setup);
    QFETCH(bool, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tool = dir.filePath(QStringLiteral("a tool"));
    QVERIFY(writeTool(tool));
    QString path = dir.filePath(QStringLiteral("it"));
    if (setup == QLatin1String("tool"))
        path = tool;
    else if (setup == QLatin1String("plain"))
        QVERIFY(writeFile(path, "x", false));
    else if (setup == QLatin1String("dir"))
        QVERIFY(QDir().mkdir(path)); // directories carry the x bit
    else if (setup == QLatin1String("link"))
        QVERIFY(QFile::link(tool, path));
    else if (setup == QLatin1String("dangling"))
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), path));
    else if (setup == QLatin1String("empty"))
        path.clear();
    else if (setup == QLatin1String("nul"))
        path = tool + QChar(u'\0') + QStringLiteral("x");
    QCOMPARE(isExecutableFile(path), expected);
}

void TestCliPath::utf8File_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ASCII") << QStringLiteral("file") << QByteArray(" /a b\n") << true
                           << QStringLiteral(" /a b\n");
    QTest::newRow("Cyrillic") << QStringLiteral("file") << QByteArray("/\xd1\x91") << true
                              << QStringLiteral("/ё");
    QTest::newRow("empty file") << QStringLiteral("file") << QByteArray("") << true << QString();
    QTest::newRow("byte-order mark")
        << QStringLiteral("file") << QByteArray("\xef\xbb\xbf/a") << true << QStringLiteral("/a");
    QTest::newRow("Latin-1 byte") << QStringLiteral("file") << QByteArray("/caf\xe9") << false
                                  << QString();
    QTest::newRow("overlong slash")
        << QStringLiteral("file") << QByteArray("\xc0\xaf") << false << QString();
    QTest::newRow("missing") << QStringLiteral("missing") << QByteArray() << false << QString();
    QTest::newRow("directory") << QStringLiteral("dir") << QByteArray() << false << QString();
    QTest::newRow("FIFO") << QStringLiteral("fifo") << QByteArray() << false << QString();
    QTest::newRow("unreadable") << QStringLiteral("unreadable") << QByteArray("/a") << false
                                << QString();
}

void TestCliPath::utf8File() {
    QFETCH(QString, setup);
    QFETCH(QByteArray, content);
    QFETCH(bool, readable);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("cli"));
    if (setup == QLatin1String("file") || setup == QLatin1String("unreadable"))
        QVERIFY(writeFile(path, content, false));
    if (setup == QLatin1String("unreadable")) {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
    }
    if (setup == QLatin1String("dir"))
        QVERIFY(QDir().mkdir(path));
    if (setup == QLatin1String("fifo"))
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);

    const std::optional<QString> text = readUtf8File(path);
    QCOMPARE(text.has_value(), readable);
    if (readable)
        QCOMPARE(*text, expected);
}

// The resource directory is shown to the user (the pointer file of the not-found notice), so it
// has no "." or ".." components.
void TestCliPath::resourceDirClean() {
    QCOMPARE(resourceDir(), QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                            QStringLiteral("/../share/quillnest-bar")));
}

QTEST_GUILESS_MAIN(TestCliPath)
#include "test_cli_path.moc"
