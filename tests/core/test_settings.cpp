#include "core/settings.h"

#include <QTest>

using namespace quillnest;

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void language_data();
    void language();
    void linuxLanguages_data();
    void linuxLanguages();
    void stateDirectory_data();
    void stateDirectory();
    void switches_data();
    void switches();
};

void TestSettings::language_data() {
    QTest::addColumn<QStringList>("preferred");
    QTest::addColumn<bool>("russian");
    QTest::newRow("empty list") << QStringList{} << false;
    QTest::newRow("ru") << QStringList{QStringLiteral("ru")} << true;
    QTest::newRow("ru-RU") << QStringList{QStringLiteral("ru-RU")} << true;
    QTest::newRow("ru_RU.UTF-8") << QStringList{QStringLiteral("ru_RU.UTF-8")} << true;
    QTest::newRow("second place") << QStringList{QStringLiteral("de"), QStringLiteral("ru")}
                                  << false;
    QTest::newRow("three letters") << QStringList{QStringLiteral("rue")} << true;
    QTest::newRow("capitals") << QStringList{QStringLiteral("RU")} << false;
    QTest::newRow("empty entry") << QStringList{QString()} << false;
}

void TestSettings::language() {
    QFETCH(QStringList, preferred);
    QFETCH(bool, russian);
    QCOMPARE(ruFrom(preferred), russian);
}

void TestSettings::linuxLanguages_data() {
    QTest::addColumn<Env>("env");
    QTest::addColumn<QStringList>("expected");
    const auto s = [](const char* t) { return QString::fromUtf8(t); };
    QTest::newRow("nothing set") << Env{} << QStringList{};
    QTest::newRow("LANGUAGE list")
        << Env{{"LANGUAGE", "ru:en"}, {"LANG", "de_DE"}} << QStringList{s("ru"), s("en")};
    QTest::newRow("empty LANGUAGE")
        << Env{{"LANGUAGE", ""}, {"LANG", "ru_RU.UTF-8"}} << QStringList{s("ru_RU.UTF-8")};
    QTest::newRow("LC_ALL first") << Env{{"LC_ALL", "en_US"}, {"LC_MESSAGES", "ru"}}
                                  << QStringList{s("en_US")};
    QTest::newRow("empty LC_ALL skipped")
        << Env{{"LC_ALL", ""}, {"LC_MESSAGES", "ru_RU"}, {"LANG", "en"}} << QStringList{s("ru_RU")};
    QTest::newRow("LANG raw") << Env{{"LANG", "RU"}} << QStringList{s("RU")};
}

void TestSettings::linuxLanguages() {
    QFETCH(Env, env);
    QFETCH(QStringList, expected);
    QCOMPARE(linuxPreferredLanguages(env), expected);
}

void TestSettings::stateDirectory_data() {
    QTest::addColumn<Env>("env");
    QTest::addColumn<QString>("expected");
    const auto s = [](const char* t) { return QString::fromUtf8(t); };
    QTest::newRow("default") << Env{} << s("/Users/a/.quillnest");
    QTest::newRow("empty") << Env{{"QUILLNEST_HOME", ""}} << s("");
    QTest::newRow("tilde") << Env{{"QUILLNEST_HOME", "~/q"}} << s("~/q");
    QTest::newRow("trailing slash") << Env{{"QUILLNEST_HOME", "/srv/q/"}} << s("/srv/q/");
}

void TestSettings::stateDirectory() {
    QFETCH(Env, env);
    QFETCH(QString, expected);
    QCOMPARE(stateDirFrom(env, QStringLiteral("/Users/a")), expected);
}

// The snapshot and show-menu variables; a Boolean is on only when it is exactly "1".
void TestSettings::switches_data() {
    QTest::addColumn<Env>("env");
    QTest::addColumn<std::optional<QString>>("snapshot");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("showMenu");
    const std::optional<QString> none;
    QTest::newRow("nothing set") << Env{} << none << false << false;
    QTest::newRow("all on") << Env{{"QUILLNEST_SNAPSHOT", "/t/m \xd0\xbc.png"},
                                   {"QUILLNEST_SNAPSHOT_DARK", "1"},
                                   {"QUILLNEST_SHOW_MENU", "1"}}
                            << std::optional(QStringLiteral("/t/m м.png")) << true << true;
    QTest::newRow("empty snapshot is set")
        << Env{{"QUILLNEST_SNAPSHOT", ""}, {"QUILLNEST_SNAPSHOT_DARK", ""}}
        << std::optional(QString()) << false << false;
    QTest::newRow("true") << Env{{"QUILLNEST_SNAPSHOT_DARK", "true"},
                                 {"QUILLNEST_SHOW_MENU", "yes"}}
                          << none << false << false;
    QTest::newRow("padded") << Env{{"QUILLNEST_SNAPSHOT_DARK", " 1"}, {"QUILLNEST_SHOW_MENU", "1 "}}
                            << none << false << false;
    QTest::newRow("01") << Env{{"QUILLNEST_SNAPSHOT_DARK", "01"}, {"QUILLNEST_SHOW_MENU", "01"}}
                        << none << false << false;
}

void TestSettings::switches() {
    QFETCH(Env, env);
    QFETCH(std::optional<QString>, snapshot);
    QFETCH(bool, dark);
    QFETCH(bool, showMenu);
    const Settings settings = settingsFrom(env, QStringLiteral("/h"), {QStringLiteral("ru")});
    QCOMPARE(settings.snapshotPath, snapshot);
    QCOMPARE(settings.snapshotDark, dark);
    QCOMPARE(settings.showMenu, showMenu);
    QVERIFY(settings.ru);
    QCOMPARE(settings.stateDir, QStringLiteral("/h/.quillnest"));
}

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"
