#include "tool/process_description.h"

#include <QTest>

using namespace quillnest;

class TestProcessSpec : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void spec_data();
    void spec();
    void searchPath_data();
    void searchPath();
    void commandLine_data();
    void commandLine();
};

void TestProcessSpec::spec_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<Env>("inherited");
    QTest::addColumn<bool>("russian");
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<Env>("env");

    const QByteArray added = "/usr/local/bin:/opt/homebrew/bin:/usr/bin";
    const QString usrLocal = QStringLiteral("/usr/local/bin/quillnest");
    const QString sync = QStringLiteral("sync");
    const QString all = QStringLiteral("--all");
    const QString quiet = QStringLiteral("-q");
    const QByteArray path = "PATH";
    const QByteArray lang = "QUILLNEST_LANG";
    const QByteArray bytecode = "PYTHONDONTWRITEBYTECODE";
    const QString env = QStringLiteral("/usr/bin/env");

    QTest::newRow("sync, English, PATH /bin")
        << QStringList{sync, all, quiet} << usrLocal << Env{{path, "/bin"}, {"HOME", "/h"}} << false
        << QStringList{usrLocal, sync, all, quiet}
        << Env{{path, "/bin:" + added}, {"HOME", "/h"}, {lang, "en"}, {bytecode, "1"}};
    QTest::newRow("Russian replaces inherited values")
        << QStringList{QStringLiteral("check"), all, quiet} << QStringLiteral("quillnest")
        << Env{{lang, "en"},
               {bytecode, "0"},
               {"QUILLNEST_HOME", "/q home"},
               {path, "/usr/bin:/bin"}}
        << true
        << QStringList{env, QStringLiteral("quillnest"), QStringLiteral("check"), all, quiet}
        << Env{{lang, "ru"},
               {bytecode, "1"},
               {"QUILLNEST_HOME", "/q home"},
               {path, "/usr/bin:/bin:" + added}};
    QTest::newRow("English replaces inherited Russian")
        << QStringList{} << usrLocal << Env{{lang, "ru"}} << false << QStringList{usrLocal}
        << Env{{lang, "en"}, {bytecode, "1"}, {path, added}};
    QTest::newRow("PATH already complete: appended again")
        << QStringList{} << usrLocal << Env{{path, added}} << false << QStringList{usrLocal}
        << Env{{lang, "en"}, {bytecode, "1"}, {path, added + ':' + added}};
    const QString odd = QStringLiteral("/tmp/my \"proj\" $(rm -rf ~) & 'x' <b>; `id` ё ✓");
    QTest::newRow("odd arguments and values untouched")
        << QStringList{sync, odd, quiet} << QStringLiteral("/opt/a b/quillnest")
        << Env{{"ODD", odd.toUtf8()}, {"EMPTY", ""}} << false
        << QStringList{QStringLiteral("/opt/a b/quillnest"), sync, odd, quiet}
        << Env{{"ODD", odd.toUtf8()}, {"EMPTY", ""}, {lang, "en"}, {bytecode, "1"}, {path, added}};
    QTest::newRow("names and values that are not UTF-8 untouched")
        << QStringList{} << usrLocal
        << Env{{"QN_\xe9", "a\xff"
                           "b"},
               {"QUILLNEST_HOME", "/q\xc0\xaf"},
               {path, "/b\xffin"}}
        << false << QStringList{usrLocal}
        << Env{{"QN_\xe9", "a\xff"
                           "b"},
               {"QUILLNEST_HOME", "/q\xc0\xaf"},
               {lang, "en"},
               {bytecode, "1"},
               {path, "/b\xffin:" + added}};
}

// An empty entry of PATH names the working directory; none reaches the child, whatever PATH the
// utility inherited.
void TestProcessSpec::searchPath_data() {
    QTest::addColumn<Env>("inherited");
    QTest::addColumn<QByteArray>("path");
    const QByteArray added = "/usr/local/bin:/opt/homebrew/bin:/usr/bin";
    QTest::newRow("unset") << Env{} << added;
    QTest::newRow("empty") << Env{{"PATH", ""}} << added;
    QTest::newRow("a colon") << Env{{"PATH", ":"}} << added;
    QTest::newRow("colons only") << Env{{"PATH", ":::"}} << added;
    QTest::newRow("leading colon") << Env{{"PATH", ":/bin"}} << "/bin:" + added;
    QTest::newRow("trailing colon") << Env{{"PATH", "/bin:"}} << "/bin:" + added;
    QTest::newRow("two colons inside") << Env{{"PATH", "/bin::/sbin"}} << "/bin:/sbin:" + added;
    QTest::newRow("dot kept: asked for by name") << Env{{"PATH", ".:/bin"}} << ".:/bin:" + added;
    QTest::newRow("blank entry kept: a folder named by a space")
        << Env{{"PATH", " :/bin"}} << " :/bin:" + added;
}

void TestProcessSpec::searchPath() {
    QFETCH(Env, inherited);
    QFETCH(QByteArray, path);
    const QByteArray found =
        processSpec({}, QStringLiteral("quillnest"), inherited, false).env.value("PATH");
    QCOMPARE(found, path);
    QVERIFY(!found.split(':').contains(QByteArray()));
}

// /usr/bin/env reads a word holding "=" as a variable and one beginning with "-" as an option, and
// then runs the word after it: only a bare name goes through env, and only one env cannot misread.
void TestProcessSpec::commandLine_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("argv"); // before the arguments; empty: nothing to launch
    const QString env = QStringLiteral("/usr/bin/env");
    const auto s = [](const char* text) { return QString::fromUtf8(text); };
    QTest::newRow("absolute path")
        << s("/usr/local/bin/quillnest") << QStringList{s("/usr/local/bin/quillnest")};
    QTest::newRow("folder x=y") << s("/tmp/x=y/quillnest") << QStringList{s("/tmp/x=y/quillnest")};
    QTest::newRow("= in the file name")
        << s("/opt/quill=nest") << QStringList{s("/opt/quill=nest")};
    QTest::newRow("relative path") << s("bin/quillnest") << QStringList{s("bin/quillnest")};
    QTest::newRow("relative, leading dash")
        << s("-i/quillnest") << QStringList{s("./-i/quillnest")};
    QTest::newRow("working directory, =") << s("./a=b") << QStringList{s("./a=b")};
    QTest::newRow("odd characters")
        << s("/a b/'q' \"d\" & <c> $(x) ё") << QStringList{s("/a b/'q' \"d\" & <c> $(x) ё")};
    QTest::newRow("bare name") << s("quillnest") << QStringList{env, s("quillnest")};
    QTest::newRow("bare non-ASCII name") << s("квилл") << QStringList{env, s("квилл")};
    QTest::newRow("bare name with =") << s("a=b") << QStringList{};
    QTest::newRow("bare option") << s("-i") << QStringList{};
    QTest::newRow("bare double dash") << s("--") << QStringList{};
    QTest::newRow("empty") << QString() << QStringList{};
}

void TestProcessSpec::commandLine() {
    QFETCH(QString, tool);
    QFETCH(QStringList, argv);
    const QStringList args{QStringLiteral("sync"), QStringLiteral("--all"), QStringLiteral("-q")};
    const ProcessSpec spec = processSpec(args, tool, Env{{"PATH", "/bin"}}, false);
    QCOMPARE(spec.argv, argv.isEmpty() ? QStringList{} : argv + args);
}

void TestProcessSpec::spec() {
    QFETCH(QStringList, args);
    QFETCH(QString, tool);
    QFETCH(Env, inherited);
    QFETCH(bool, russian);
    QFETCH(QStringList, argv);
    QFETCH(Env, env);
    const ProcessSpec spec = processSpec(args, tool, inherited, russian);
    QCOMPARE(spec.argv, argv);
    QCOMPARE(spec.env, env);
}

QTEST_GUILESS_MAIN(TestProcessSpec)
#include "test_process_description.moc"
