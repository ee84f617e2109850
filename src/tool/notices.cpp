#include "tool/notices.h"

#include "tool/cli_path.h"

#include <csignal>

namespace quillnest {
namespace {

// What env answers when it finds no program of that name along PATH.
constexpr int commandNotFound = 127;

class Texts {
public:
    explicit Texts(bool ru) : ru_(ru) {}
    QString operator()(const char16_t* en, const char16_t* ru) const {
        return QString::fromUtf16(ru_ ? ru : en);
    }

private:
    bool ru_;
};

QString failedSummary(ToolCommand command, const Texts& t) {
    switch (command) {
    case ToolCommand::Sync:
        return t(u"Sync failed", u"Синхронизация не удалась");
    case ToolCommand::Check:
        return t(u"Check failed", u"Проверка не удалась");
    case ToolCommand::AddProject:
        return t(u"Adding the project failed", u"Добавить проект не удалось");
    case ToolCommand::Watch:
        return t(u"Watching for changes stopped", u"Наблюдение за изменениями остановлено");
    }
    return {};
}

// The label of the button that runs the command again; empty for commands that offer none.
QString againLabel(ToolCommand command, const Texts& t) {
    switch (command) {
    case ToolCommand::Sync:
        return t(u"Sync again", u"Синхронизировать снова");
    case ToolCommand::Check:
        return t(u"Check again", u"Проверить снова");
    case ToolCommand::AddProject:
    case ToolCommand::Watch:
        break;
    }
    return {};
}

// The tool's command line as the user would type it.
QString commandLine(ToolCommand command) {
    switch (command) {
    case ToolCommand::Sync:
        return QStringLiteral("quillnest sync --all");
    case ToolCommand::Check:
        return QStringLiteral("quillnest check --all");
    case ToolCommand::AddProject:
        return QStringLiteral("quillnest init");
    case ToolCommand::Watch:
        return QStringLiteral("quillnest watch --all");
    }
    return {};
}

// The usual name of a signal, or nothing for one without a well-known name.
const char* signalName(int number) {
    switch (number) {
    case SIGHUP:
        return "SIGHUP";
    case SIGINT:
        return "SIGINT";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    case SIGFPE:
        return "SIGFPE";
    case SIGKILL:
        return "SIGKILL";
    case SIGSEGV:
        return "SIGSEGV";
    case SIGPIPE:
        return "SIGPIPE";
    case SIGTERM:
        return "SIGTERM";
    case SIGBUS:
        return "SIGBUS";
    }
    return nullptr;
}

QString signalText(int number) {
    const char* name = signalName(number);
    return name ? QStringLiteral("%1 (%2)").arg(number).arg(QLatin1StringView(name))
                : QString::number(number);
}

Notice notFound(const NoticeInputs& in, const Texts& t) {
    QStringList folders;
    for (const QString& path : installedToolPaths(in.home))
        folders.append(path.left(path.lastIndexOf(u'/')));
    const QString places = folders.join(QStringLiteral(", "));
    const QString pointer = cliPointerPath(in.resourceDir);
    return {t(u"The quillnest tool was not found", u"Инструмент quillnest не найден"),
            t(u"Looked for it in %1 and along PATH. Install it there, or write the tool's full "
              u"path into %2.",
              u"Искали в %1 и в каталогах PATH. Установите его туда или запишите полный путь к "
              u"нему в файл %2.")
                .arg(places, pointer),
            {}};
}

} // namespace

std::optional<Notice> failureNotice(const NoticeInputs& in) {
    const Texts t(in.ru);
    const bool bareName = !in.tool.contains(QLatin1Char('/'));
    const QString summary = failedSummary(in.command, t);
    const QString again = againLabel(in.command, t);
    const QString line = commandLine(in.command);
    switch (in.outcome.kind) {
    case Outcome::Kind::NotStarted:
        if (bareName)
            return notFound(in, t);
        return Notice{summary,
                      t(u"%1 could not be started.", u"Не удалось запустить %1.").arg(in.tool),
                      again};
    case Outcome::Kind::Signalled:
        return Notice{summary,
                      t(u"%1 was ended by signal %2.", u"Команда %1 прервана сигналом %2.")
                          .arg(line, signalText(in.outcome.code)),
                      again};
    case Outcome::Kind::Unknown:
        return Notice{summary,
                      t(u"%1 ended, but how it ended could not be learned.",
                        u"Команда %1 завершилась, но с каким итогом, узнать не удалось.")
                          .arg(line),
                      again};
    case Outcome::Kind::Exited:
        if (in.outcome.code == commandNotFound && bareName)
            return notFound(in, t);
        if (in.outcome.code == 0 && in.command != ToolCommand::Watch)
            return std::nullopt;
        if (in.outcome.code == 0)
            return Notice{
                summary, t(u"%1 ended by itself.", u"Команда %1 завершилась сама.").arg(line), {}};
        return Notice{summary,
                      t(u"%1 ended with exit status %2.", u"Команда %1 завершилась с кодом %2.")
                          .arg(line)
                          .arg(in.outcome.code),
                      again};
    }
    return std::nullopt;
}

} // namespace quillnest
