// The texts of notifications: which failures and which changes of the state are told, and what
// they say.
#include "tool/notices.h"

#include <QTest>

#include <csignal>

using namespace quillnest;

Q_DECLARE_METATYPE(quillnest::ToolCommand)
Q_DECLARE_METATYPE(quillnest::Outcome)
Q_DECLARE_METATYPE(quillnest::Summary)

namespace {
// A state with `secrets` found in the projects /p/1 to /p/<secretProjects>, and likewise conflicts.
Summary state(std::int64_t secrets, int secretProjects, std::int64_t conflicts = 0,
              int conflictProjects = 0, std::int64_t warn = 0) {
    Summary s;
    s.secrets = secrets;
    s.warn = warn;
    s.conflicts = conflicts;
    for (int i = 1; i <= std::max(secretProjects, conflictProjects); ++i)
        s.projects.append(QStringLiteral("/p/%1").arg(i));
    s.withSecrets = s.projects.first(secretProjects);
    s.withConflicts = s.projects.first(conflictProjects);
    return s;
}
} // namespace

class TestNotices : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void notices_data();
    void notices();
    void stateNotices_data();
    void stateNotices();
};

void TestNotices::notices_data() {
    QTest::addColumn<ToolCommand>("command");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("ru");
    QTest::addColumn<QString>("summary"); // empty: nothing is told
    QTest::addColumn<QString>("body");

    using K = Outcome::Kind;
    const QString bare = QStringLiteral("quillnest");
    const QString path = QStringLiteral("/opt/q=1/quillnest");
    const QString notFound = QStringLiteral(
        "Looked for it in /home/u/.local/bin, /usr/local/bin, /opt/homebrew/bin and along PATH. "
        "Install it there, or write the tool's full path into /usr/share/quillnest-bar/cli.");

    QTest::newRow("sync succeeded")
        << ToolCommand::Sync << Outcome{K::Exited, 0} << bare << false << QString() << QString();
    QTest::newRow("check succeeded, Russian")
        << ToolCommand::Check << Outcome{K::Exited, 0} << path << true << QString() << QString();
    QTest::newRow("not found by env") << ToolCommand::Sync << Outcome{K::Exited, 127} << bare
                                      << false << "The quillnest tool was not found" << notFound;
    QTest::newRow("not launched, bare name")
        << ToolCommand::AddProject << Outcome{K::NotStarted, 0} << bare << false
        << "The quillnest tool was not found" << notFound;
    QTest::newRow("not found, Russian")
        << ToolCommand::Check << Outcome{K::Exited, 127} << bare << true
        << "Инструмент quillnest не найден"
        << "Искали в /home/u/.local/bin, /usr/local/bin, /opt/homebrew/bin и в каталогах PATH. "
           "Установите его туда или запишите полный путь к нему в файл "
           "/usr/share/quillnest-bar/cli.";
    QTest::newRow("path not launched")
        << ToolCommand::Sync << Outcome{K::NotStarted, 0} << path << false << "Sync failed"
        << "/opt/q=1/quillnest could not be started.";
    QTest::newRow("127 from a found tool is its own status")
        << ToolCommand::Sync << Outcome{K::Exited, 127} << path << false << "Sync failed"
        << "quillnest sync --all ended with exit status 127.";
    QTest::newRow("exit status 3")
        << ToolCommand::Check << Outcome{K::Exited, 3} << path << false << "Check failed"
        << "quillnest check --all ended with exit status 3.";
    QTest::newRow("exit status 3, Russian") << ToolCommand::AddProject << Outcome{K::Exited, 3}
                                            << path << true << "Добавить проект не удалось"
                                            << "Команда quillnest init завершилась с кодом 3.";
    QTest::newRow("killed") << ToolCommand::Sync << Outcome{K::Signalled, SIGKILL} << path << false
                            << "Sync failed"
                            << "quillnest sync --all was ended by signal 9 (SIGKILL).";
    QTest::newRow("unnamed signal")
        << ToolCommand::Check << Outcome{K::Signalled, SIGRTMIN + 1} << path << false
        << "Check failed"
        << QStringLiteral("quillnest check --all was ended by signal %1.").arg(SIGRTMIN + 1);
    QTest::newRow("outcome not learned is no success")
        << ToolCommand::Sync << Outcome{K::Unknown, 0} << path << false << "Sync failed"
        << "quillnest sync --all ended, but how it ended could not be learned.";
    QTest::newRow("watch ended by itself") << ToolCommand::Watch << Outcome{K::Exited, 0} << path
                                           << false << "Watching for changes stopped"
                                           << "quillnest watch --all ended by itself.";
    QTest::newRow("watch crashed, Russian")
        << ToolCommand::Watch << Outcome{K::Signalled, SIGSEGV} << path << true
        << "Наблюдение за изменениями остановлено"
        << "Команда quillnest watch --all прервана сигналом 11 (SIGSEGV).";
}

void TestNotices::notices() {
    QFETCH(ToolCommand, command);
    QFETCH(Outcome, outcome);
    QFETCH(QString, tool);
    QFETCH(bool, ru);
    QFETCH(QString, summary);
    QFETCH(QString, body);

    const std::optional<Notice> notice =
        failureNotice({command, outcome, tool, QStringLiteral("/usr/share/quillnest-bar"),
                       QStringLiteral("/home/u"), ru});
    QCOMPARE(notice.has_value(), !summary.isEmpty());
    if (notice) {
        QCOMPARE(notice->summary, summary);
        QCOMPARE(notice->body, body);
    }
}

void TestNotices::stateNotices_data() {
    QTest::addColumn<Summary>("before");
    QTest::addColumn<Summary>("now");
    QTest::addColumn<bool>("ru");
    QTest::addColumn<QString>("told"); // summary | body | action of each notice

    const Summary clean = state(0, 0);
    QTest::newRow("one") << clean << state(1, 1) << false
                         << "Passwords or keys found in rules | 1 password or key in 1 project: 1. "
                            "| Open master file";
    QTest::newRow("and N more") << clean << state(7, 4) << false
                                << "Passwords or keys found in rules | 7 passwords or keys in 4 "
                                   "projects: 1, 2, 3 and 1 more. | Open master file";
    QTest::newRow("1, Russian") << clean << state(1, 1) << true
                                << "В правилах найдены пароли или ключи | 1 пароль или ключ в 1 "
                                   "проекте: 1. | Открыть главный файл";
    QTest::newRow("2, Russian") << clean << state(2, 2) << true
                                << "В правилах найдены пароли или ключи | 2 пароля или ключа в 2 "
                                   "проектах: 1, 2. | Открыть главный файл";
    QTest::newRow("5, Russian") << clean << state(5, 5) << true
                                << "В правилах найдены пароли или ключи | 5 паролей или ключей в 5 "
                                   "проектах: 1, 2, 3 и ещё 2. | Открыть главный файл";
    QTest::newRow("21, Russian") << clean << state(21, 21) << true
                                 << "В правилах найдены пароли или ключи | 21 пароль или ключ в 21 "
                                    "проекте: 1, 2, 3 и ещё 18. | Открыть главный файл";
    QTest::newRow("22 in 12, Russian")
        << clean << state(0, 0, 22, 12) << true
        << "Конфликты главных файлов | 22 конфликта в 12 проектах: 1, 2, 3 и ещё 9 — см. "
           ".quillnest/conflicts. | Папка конфликтов";
    QTest::newRow("both at once")
        << state(0, 0, 0, 0, 4) << state(3, 1, 1, 1) << false
        << "Passwords or keys found in rules | 3 passwords or keys in 1 project: 1. | Open master "
           "file | Conflicts in master files | 1 conflict in 1 project: 1 — see "
           ".quillnest/conflicts. | Show conflicts folder";
    QTest::newRow("conflicts stay, secrets go")
        << state(1, 1, 1, 1) << state(0, 0, 2, 1) << false << "";
    QTest::newRow("negative total") << clean << state(-1, 1) << false << "";
}

void TestNotices::stateNotices() {
    QFETCH(Summary, before);
    QFETCH(Summary, now);
    QFETCH(bool, ru);
    QFETCH(QString, told);

    QStringList texts;
    for (const StateNotice& n : quillnest::stateNotices(before, now, ru)) {
        texts << n.notice.summary << n.notice.body << n.notice.action;
        QCOMPARE(n.project, QStringLiteral("/p/1"));
    }
    QCOMPARE(texts.join(QStringLiteral(" | ")), told);
}

QTEST_APPLESS_MAIN(TestNotices)
#include "test_notices.moc"
