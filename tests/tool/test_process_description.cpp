#include "tool/process_description.h"

#include <QTest>

using namespace quillnest;

class TestProcessSpec : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void spec_data();
    void spec();
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
    QTest::newRow("no PATH") << QStringList{} << usrLocal << Env{} << false << QStringList{usrLocal}
                             << Env{{lang, "en"}, {bytecode, "1"}, {path, added}};
    QTest::newRow("empty entries dropped")
        << QStringList{} << usrLocal << Env{{path, ":/bin::"}} << false << QStringList{usrLocal}
        << Env{{lang, "en"}, {bytecode, "1"}, {path, "/bin:" + added}};
    QTest::newRow("PATH already complete: appended again")
        << QStringList{} << usrLocal << Env{{path, added}} << false << QStringList{usrLocal}
        << Env{{lang, "en"}, {bytecode, "1"}, {path, added + ':' + added}};
    QTest::newRow("bare name env would misread: nothing to run")
        << QStringList{sync} << QStringLiteral("x=y") << Env{} << false << QStringList{}
        << Env{{lang, "en"}, {bytecode, "1"}, {path, added}};
    const QString odd = QStringLiteral("/tmp/my \"proj\" $(rm -rf ~) & 'x' <b>; `id` ё ✓");
    QTest::newRow("odd arguments and values untouched")
        << QStringList{sync, odd, quiet} << QStringLiteral("/opt/a b/quillnest")
        << Env{{"ODD", odd.toUtf8()}, {"EMPTY", ""}} << false
        << QStringList{QStringLiteral("/opt/a b/quillnest"), sync, odd, quiet}
        << Env{{"ODD", odd.toUtf8()}, {"EMPTY", ""}, {lang, "en"}, {bytecode, "1"}, {path, added}};
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
