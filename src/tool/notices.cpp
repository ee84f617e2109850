#include "tool/notices.h"

#include "menu/compose.h"
#include "tool/cli_path.h"

#include <unicode/numberformatter.h>
#include <unicode/plurrule.h>

#include <csignal>
#include <memory>

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

// The plural forms a count takes: English has One and Many, Russian all three.
enum class Plural { One, Few, Many };

// The form of `n` by ICU's plural rules of the language (the rules of the menu's relative dates),
// taken from the exact integer, so that every 64-bit count gets its form. Many when ICU fails.
Plural pluralOf(std::int64_t n, bool ru) {
    const icu::Locale locale(ru ? "ru" : "en");
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::PluralRules> rules(icu::PluralRules::forLocale(locale, status));
    const icu::number::FormattedNumber number =
        icu::number::NumberFormatter::withLocale(locale).formatInt(n, status);
    if (!rules || U_FAILURE(status))
        return Plural::Many;
    const icu::UnicodeString form = rules->select(number, status);
    if (U_FAILURE(status))
        return Plural::Many;
    return form == u"one" ? Plural::One : form == u"few" ? Plural::Few : Plural::Many;
}

// "3 passwords or keys in 2 projects: a, b" and so on; `words` holds the forms One, Few, Many of
// what is counted, each pair English then Russian ("in 2 projects" takes the Russian locative).
QString countIn(std::int64_t total, const QStringList& projects, const char16_t* const (&words)[6],
                bool ru) {
    const Texts t(ru);
    const auto form = [ru](std::int64_t n, const char16_t* const(&forms)[6]) {
        return QString::fromUtf16(forms[2 * int(pluralOf(n, ru)) + int(ru)]);
    };
    static const char16_t* const projectForms[6] = {u"project",  u"проекте",  u"projects",
                                                    u"проектах", u"projects", u"проектах"};
    QStringList names;
    for (qsizetype i = 0; i < projects.size() && i < 3; ++i)
        names.append(projectTitle(projects[i]));
    QString listed = names.join(QStringLiteral(", "));
    if (projects.size() > 3)
        listed += t(u" and %1 more", u" и ещё %1").arg(projects.size() - 3);
    return t(u"%1 %2 in %3 %4: %5", u"%1 %2 в %3 %4: %5")
        .arg(QString::number(qint64(total)), form(total, words), QString::number(projects.size()),
             form(projects.size(), projectForms), listed);
}

} // namespace

std::vector<StateNotice> stateNotices(const Summary& before, const Summary& now, bool ru) {
    const Texts t(ru);
    std::vector<StateNotice> notices;
    if (now.secrets >= 1 && before.secrets < 1) {
        static const char16_t* const forms[6] = {u"password or key",   u"пароль или ключ",
                                                 u"passwords or keys", u"пароля или ключа",
                                                 u"passwords or keys", u"паролей или ключей"};
        notices.push_back(
            {StateAlarm::Secrets,
             {t(u"Passwords or keys found in rules", u"В правилах найдены пароли или ключи"),
              countIn(now.secrets, now.withSecrets, forms, ru) + u'.', masterFileTitle(ru)},
             now.withSecrets.value(0)});
    }
    if (now.conflicts >= 1 && before.conflicts < 1) {
        static const char16_t* const forms[6] = {u"conflict",  u"конфликт",  u"conflicts",
                                                 u"конфликта", u"conflicts", u"конфликтов"};
        notices.push_back({StateAlarm::Conflicts,
                           {t(u"Conflicts in master files", u"Конфликты главных файлов"),
                            countIn(now.conflicts, now.withConflicts, forms, ru) +
                                t(u" — see .quillnest/conflicts.", u" — см. .quillnest/conflicts."),
                            conflictsTitle(ru)},
                           now.withConflicts.value(0)});
    }
    return notices;
}

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
