// The texts of failure notifications: which ends are told, and what they say.
#include "tool/notices.h"

#include <QTest>

#include <csignal>

using namespace quillnest;

Q_DECLARE_METATYPE(quillnest::ToolCommand)
Q_DECLARE_METATYPE(quillnest::Outcome)

class TestNotices : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void notices_data();
    void notices();
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

QTEST_APPLESS_MAIN(TestNotices)
#include "test_notices.moc"
