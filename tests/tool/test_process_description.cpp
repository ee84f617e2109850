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

    const QString tail = QStringLiteral(":/usr/local/bin:/opt/homebrew/bin:/usr/bin");
    const QString usrLocal = QStringLiteral("/usr/local/bin/quillnest");
    const QString sync = QStringLiteral("sync");
    const QString all = QStringLiteral("--all");
    const QString quiet = QStringLiteral("-q");
    const QString path = QStringLiteral("PATH");
    const QString lang = QStringLiteral("QUILLNEST_LANG");
    const QString bytecode = QStringLiteral("PYTHONDONTWRITEBYTECODE");
    const QString home = QStringLiteral("QUILLNEST_HOME");
    const QString env = QStringLiteral("/usr/bin/env");

    QTest::newRow("sync, English, PATH /bin")
        << QStringList{sync, all, quiet} << usrLocal
        << Env{{path, QStringLiteral("/bin")}, {QStringLiteral("HOME"), QStringLiteral("/h")}}
        << false << QStringList{env, usrLocal, sync, all, quiet}
        << Env{{path, QStringLiteral("/bin") + tail},
               {QStringLiteral("HOME"), QStringLiteral("/h")},
               {lang, QStringLiteral("en")},
               {bytecode, QStringLiteral("1")}};
    QTest::newRow("Russian replaces inherited values")
        << QStringList{QStringLiteral("check"), all, quiet} << QStringLiteral("quillnest")
        << Env{{lang, QStringLiteral("en")},
               {bytecode, QStringLiteral("0")},
               {home, QStringLiteral("/q home")},
               {path, QStringLiteral("/usr/bin:/bin")}}
        << true
        << QStringList{env, QStringLiteral("quillnest"), QStringLiteral("check"), all, quiet}
        << Env{{lang, QStringLiteral("ru")},
               {bytecode, QStringLiteral("1")},
               {home, QStringLiteral("/q home")},
               {path, QStringLiteral("/usr/bin:/bin") + tail}};
    QTest::newRow("English replaces inherited Russian")
        << QStringList{} << usrLocal << Env{{lang, QStringLiteral("ru")}} << false
        << QStringList{env, usrLocal}
        << Env{{lang, QStringLiteral("en")}, {bytecode, QStringLiteral("1")}, {path, tail}};
    QTest::newRow("no PATH: leading colon")
        << QStringList{QStringLiteral("watch"), all} << usrLocal << Env{} << true
        << QStringList{env, usrLocal, QStringLiteral("watch"), all}
        << Env{{lang, QStringLiteral("ru")}, {bytecode, QStringLiteral("1")}, {path, tail}};
    QTest::newRow("empty PATH") << QStringList{} << usrLocal << Env{{path, QString()}} << false
                                << QStringList{env, usrLocal}
                                << Env{{lang, QStringLiteral("en")},
                                       {bytecode, QStringLiteral("1")},
                                       {path, tail}};
    QTest::newRow("PATH already complete: appended again")
        << QStringList{} << usrLocal << Env{{path, tail.mid(1)}} << false
        << QStringList{env, usrLocal}
        << Env{{lang, QStringLiteral("en")},
               {bytecode, QStringLiteral("1")},
               {path, tail.mid(1) + tail}};
    const QString odd = QStringLiteral("/tmp/my \"proj\" $(rm -rf ~) & 'x' <b>; `id` ё ✓");
    QTest::newRow("odd arguments and values untouched")
        << QStringList{sync, odd, quiet} << QStringLiteral("/opt/a b/quillnest")
        << Env{{QStringLiteral("ODD"), odd}, {QStringLiteral("EMPTY"), QString()}} << false
        << QStringList{env, QStringLiteral("/opt/a b/quillnest"), sync, odd, quiet}
        << Env{{QStringLiteral("ODD"), odd},
               {QStringLiteral("EMPTY"), QString()},
               {lang, QStringLiteral("en")},
               {bytecode, QStringLiteral("1")},
               {path, tail}};
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
