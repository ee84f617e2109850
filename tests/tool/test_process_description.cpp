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
};

void TestProcessSpec::spec_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<Env>("inherited");
    QTest::addColumn<bool>("russian");
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<Env>("env");

    const QString tail = QStringLiteral(":/usr/local/bin:/opt/homebrew/bin:/usr/bin");
    const QString added = tail.mid(1);
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
        << Env{{lang, QStringLiteral("en")}, {bytecode, QStringLiteral("1")}, {path, added}};
    QTest::newRow("PATH already complete: appended again")
        << QStringList{} << usrLocal << Env{{path, added}} << false << QStringList{env, usrLocal}
        << Env{{lang, QStringLiteral("en")}, {bytecode, QStringLiteral("1")}, {path, added + tail}};
    const QString odd = QStringLiteral("/tmp/my \"proj\" $(rm -rf ~) & 'x' <b>; `id` ё ✓");
    QTest::newRow("odd arguments and values untouched")
        << QStringList{sync, odd, quiet} << QStringLiteral("/opt/a b/quillnest")
        << Env{{QStringLiteral("ODD"), odd}, {QStringLiteral("EMPTY"), QString()}} << false
        << QStringList{env, QStringLiteral("/opt/a b/quillnest"), sync, odd, quiet}
        << Env{{QStringLiteral("ODD"), odd},
               {QStringLiteral("EMPTY"), QString()},
               {lang, QStringLiteral("en")},
               {bytecode, QStringLiteral("1")},
               {path, added}};
}

// An empty entry of PATH names the working directory; none reaches the child, whatever PATH the
// utility inherited.
void TestProcessSpec::searchPath_data() {
    QTest::addColumn<Env>("inherited");
    QTest::addColumn<QString>("path");
    const QString p = QStringLiteral("PATH");
    const QString added = QStringLiteral("/usr/local/bin:/opt/homebrew/bin:/usr/bin");
    QTest::newRow("unset") << Env{} << added;
    QTest::newRow("empty") << Env{{p, QString()}} << added;
    QTest::newRow("a colon") << Env{{p, QStringLiteral(":")}} << added;
    QTest::newRow("colons only") << Env{{p, QStringLiteral(":::")}} << added;
    QTest::newRow("leading colon")
        << Env{{p, QStringLiteral(":/bin")}} << QStringLiteral("/bin:") + added;
    QTest::newRow("trailing colon")
        << Env{{p, QStringLiteral("/bin:")}} << QStringLiteral("/bin:") + added;
    QTest::newRow("two colons inside")
        << Env{{p, QStringLiteral("/bin::/sbin")}} << QStringLiteral("/bin:/sbin:") + added;
    QTest::newRow("dot kept: asked for by name")
        << Env{{p, QStringLiteral(".:/bin")}} << QStringLiteral(".:/bin:") + added;
    QTest::newRow("blank entry kept: a folder named by a space")
        << Env{{p, QStringLiteral(" :/bin")}} << QStringLiteral(" :/bin:") + added;
}

void TestProcessSpec::searchPath() {
    QFETCH(Env, inherited);
    QFETCH(QString, path);
    const QString found = processSpec({}, QStringLiteral("quillnest"), inherited, false)
                              .env.value(QStringLiteral("PATH"));
    QCOMPARE(found, path);
    QVERIFY(!found.split(u':').contains(QString()));
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
