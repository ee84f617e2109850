// quillnest (stand-in): a small command-line tool with the command lines, state file and project
// layout of the real `quillnest`, so that the demo and the end-to-end tests run a real child
// process that writes a real state file. It lives in the build tree only and is never installed.
//
// Command lines (exit status 0 on success, 1 when some work failed, 2 for a bad command line):
//   quillnest init PATH [--sync] [-q]    register PATH, create PATH/.quillnest/rules/ if missing;
//                                        with --sync, also sync it
//   quillnest sync (--all | PATH) [-q]   build PATH/QUILLNEST.md from .quillnest/rules/*.md; an
//                                        unregistered PATH is registered
//   quillnest check (--all | PATH) [-q]  count secrets, warnings and conflicts
//   quillnest watch --all [-q]           once a second, re-sync and check every registered
//                                        project whose rules changed; ends with status 0 on
//                                        SIGTERM, SIGINT or SIGHUP
// -q silences normal output; errors and warnings still go to stderr. `--` ends the options. A PATH
// is one argument taken as it is (only a relative one is made absolute, and trailing slashes are
// dropped); it never passes through a shell.
//
// Environment:
//   QUILLNEST_HOME  the state directory (default ~/.quillnest when unset), created when missing;
//                   state.json there is replaced atomically, under the lock file state.lock. Taken
//                   as it is, as the utility takes it: an empty value makes the state file
//                   /state.json
//   QUILLNEST_LANG  "ru" for Russian messages, anything else English
//   QUILLNEST_STANDIN_DELAY_MS  for tests: init, sync and check wait this many
//                   milliseconds (at most ten minutes) before they read and write anything, to
//                   simulate a slow run
//   QUILLNEST_STANDIN_LOG  for tests: every invocation first appends its arguments (without the
//                   program name) to this file as one line holding a JSON array of strings
//
// A damaged state.json is never overwritten: it is renamed to state.json.broken-<time> first. A
// QUILLNEST.md that differs both from what the last sync wrote and from what this sync would write
// was edited by hand; it is copied to .quillnest/conflicts/QUILLNEST-<time>.md before it is
// replaced.

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include <signal.h>
#include <time.h>

namespace quillnest {
namespace {

bool ru = false;
bool quiet = false;

QString L(const char* en, const char* russian) {
    return QString::fromUtf8(ru ? russian : en);
}

void say(const QString& text) {
    if (!quiet)
        std::fputs((text + u'\n').toUtf8().constData(), stdout);
}

void complain(const QString& text) {
    std::fputs((QStringLiteral("quillnest: ") + text + u'\n').toUtf8().constData(), stderr);
}

QString timestamp(const char* format) {
    return QDateTime::currentDateTimeUtc().toString(QString::fromLatin1(format));
}
QString now() {
    return timestamp("yyyy-MM-dd'T'HH:mm:ss'Z'");
}
QString fileStamp() {
    return timestamp("yyyyMMdd'T'HHmmss'Z'");
}

QString sha256(const QByteArray& data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

std::optional<QByteArray> readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// `base` itself when nothing exists there, else base-2, base-3, … (before `suffix`).
QString freeName(const QString& base, const QString& suffix) {
    QString name = base + suffix;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = base + u'-' + QString::number(n) + suffix;
    return name;
}

// ---- state file ---------------------------------------------------------------------------------

QString stateDir() {
    if (qEnvironmentVariableIsSet("QUILLNEST_HOME"))
        return qEnvironmentVariable("QUILLNEST_HOME");
    return QDir::homePath() + QStringLiteral("/.quillnest");
}
QString statePath() {
    return stateDir() + QStringLiteral("/state.json");
}
QString lockPath() {
    return stateDir() + QStringLiteral("/state.lock");
}

// The whole state document, or nothing when state.json exists but is unreadable, is not a JSON
// object or holds a "projects" that is not an object. A missing file is an empty document.
std::optional<QJsonObject> readStateFile() {
    if (!QFileInfo::exists(statePath()))
        return QJsonObject{};
    const auto data = readAll(statePath());
    if (!data)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(*data);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject root = doc.object();
    if (root.contains(u"projects") && !root.value(u"projects").isObject())
        return std::nullopt;
    return root;
}

// For a read-modify-write: a damaged state.json is moved aside (and reported) and an empty document
// returned; nothing when it can be neither read nor moved, so that it is never overwritten.
std::optional<QJsonObject> loadStateForUpdate() {
    if (auto root = readStateFile())
        return root;
    const QString aside = freeName(statePath() + QStringLiteral(".broken-") + fileStamp(), {});
    if (!QFile::rename(statePath(), aside)) {
        complain(
            L("cannot read %1 and cannot move it aside", "не удалось прочитать %1 и отложить его")
                .arg(statePath()));
        return std::nullopt;
    }
    complain(L("%1 was damaged; kept as %2", "%1 был повреждён; сохранён как %2")
                 .arg(statePath(), aside));
    return QJsonObject{};
}

bool saveState(const QJsonObject& root) {
    QSaveFile file(statePath());
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(root).toJson()) >= 0 &&
        file.commit())
        return true;
    complain(L("cannot write %1", "не удалось записать %1").arg(statePath()));
    return false;
}

// Serialises the read-modify-write of state.json between concurrent runs (a watch and a sync).
bool lockState(QLockFile& lock, int timeoutMs) {
    if (lock.tryLock(timeoutMs))
        return true;
    if (lock.error() != QLockFile::LockFailedError)
        complain(L("cannot create %1", "не удалось создать %1").arg(lockPath()));
    else if (timeoutMs > 1000)
        complain(L("the state directory %1 is busy", "каталог состояния %1 занят").arg(stateDir()));
    return false;
}

// ---- projects -----------------------------------------------------------------------------------

struct Rule {
    QString name;
    QByteArray text;
};

QString rulesDir(const QString& project) {
    return project + QStringLiteral("/.quillnest/rules");
}
QString conflictsDir(const QString& project) {
    return project + QStringLiteral("/.quillnest/conflicts");
}
QString masterPath(const QString& project) {
    return project + QStringLiteral("/QUILLNEST.md");
}

// The rules files, sorted by name; nothing when one of them cannot be read (a master built without
// it would silently drop rules).
std::optional<QList<Rule>> readRules(const QString& project) {
    QDir dir(rulesDir(project), QStringLiteral("*.md"), QDir::NoSort,
             QDir::Files | QDir::CaseSensitive);
    QStringList names = dir.entryList();
    std::sort(names.begin(), names.end());
    QList<Rule> rules;
    for (const QString& name : names) {
        const auto text = readAll(dir.filePath(name));
        if (!text) {
            complain(L("cannot read %1", "не удалось прочитать %1").arg(dir.filePath(name)));
            return std::nullopt;
        }
        rules.append({name, *text});
    }
    return rules;
}

QByteArray buildMaster(const QList<Rule>& rules) {
    QByteArray out = "<!-- Built by quillnest from .quillnest/rules/*.md: edit those files, not "
                     "this one. -->\n";
    for (const Rule& rule : rules) {
        out += "\n## " + rule.name.toUtf8() + "\n\n" + rule.text;
        if (!rule.text.endsWith('\n'))
            out += '\n';
    }
    return out;
}

qint64 countConflicts(const QString& project) {
    return QDir(conflictsDir(project)).entryList(QDir::Files | QDir::Hidden).size();
}

bool isProjectDir(const QString& project) {
    if (QFileInfo(project).isDir())
        return true;
    complain(L("not a folder: %1", "не папка: %1").arg(project));
    return false;
}

// Rebuilds the master file. A hand-edited master is copied into the conflicts folder first; when
// that copy fails, or the master cannot be read, it is left alone and the sync fails.
bool syncProject(const QString& project, QJsonObject& entry) {
    if (!isProjectDir(project))
        return false;
    const auto rules = readRules(project);
    if (!rules)
        return false;
    const QByteArray master = buildMaster(*rules);
    const QString path = masterPath(project);
    if (QFileInfo::exists(path)) {
        const auto old = QFileInfo(path).isFile() ? readAll(path) : std::nullopt;
        if (!old) {
            complain(L("cannot read %1", "не удалось прочитать %1").arg(path));
            return false;
        }
        if (*old != master && sha256(*old) != entry.value(u"master_hash").toString()) {
            const QString copy =
                freeName(conflictsDir(project) + QStringLiteral("/QUILLNEST-") + fileStamp(),
                         QStringLiteral(".md"));
            if (!QDir().mkpath(conflictsDir(project)) || !QFile::copy(path, copy)) {
                complain(L("cannot keep the hand-edited %1", "не удалось сохранить изменённый "
                                                             "вручную %1")
                             .arg(path));
                return false;
            }
            complain(L("%1 was edited by hand; kept as %2", "%1 изменён вручную; сохранён как %2")
                         .arg(path, copy));
        }
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(master) < 0 || !out.commit()) {
        complain(L("cannot write %1", "не удалось записать %1").arg(path));
        return false;
    }
    entry.insert(u"master_hash", sha256(master));
    entry.insert(u"synced", now());
    entry.insert(u"conflicts", countConflicts(project));
    for (const char* key : {"secrets", "warn"})
        if (!entry.contains(QLatin1String(key)))
            entry.insert(QLatin1String(key), 0);
    say(L("synced %1 (rules: %2)", "синхронизирован %1 (правил: %2)")
            .arg(project)
            .arg(rules->size()));
    return true;
}

// Every secret found in `text`, each as the text that gives it away, so that a secret that the
// master repeats from a rules file is counted once.
void findSecrets(const QString& text, QSet<QString>& found) {
    static const QRegularExpression keyBlock(
        QStringLiteral("-----BEGIN ((?:[A-Z0-9]+ )*)PRIVATE KEY-----"
                       "(?:.*?-----END \\1PRIVATE KEY-----)?"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression token(
        QStringLiteral("\\b(?:AKIA[0-9A-Z]{16}|gh[pousr]_[A-Za-z0-9]{36}|"
                       "github_pat_[A-Za-z0-9_]{22,}|sk-[A-Za-z0-9]{20,}|"
                       "xox[abprs]-[A-Za-z0-9-]{10,})\\b"));
    static const QRegularExpression password(
        QStringLiteral("^[ \\t>*+-]*[\"']?[A-Za-z0-9_.-]*password[\"']?[ \\t]*[:=][ \\t]*(.*?)"
                       "[ \\t]*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    for (const auto* re : {&keyBlock, &token})
        for (auto it = re->globalMatch(text); it.hasNext();)
            found.insert(it.next().captured(0));
    for (auto it = password.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        QString value = match.captured(1);
        while (!value.isEmpty() && QStringLiteral("\"',;").contains(value.back()))
            value.chop(1);
        while (!value.isEmpty() && QStringLiteral("\"'").contains(value.front()))
            value.remove(0, 1);
        if (!value.isEmpty())
            found.insert(match.captured(0).trimmed());
    }
}

// `expires: YYYY-MM-DD` lines whose date is before today (UTC); impossible dates are ignored.
qint64 countExpired(const QString& text) {
    static const QRegularExpression expires(
        QStringLiteral("^[ \\t>*+-]*expires:[ \\t]*(\\d{4})-(\\d{2})-(\\d{2})\\b"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    const QDate today = QDateTime::currentDateTimeUtc().date();
    qint64 n = 0;
    for (auto it = expires.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        n += date.isValid() && date < today;
    }
    return n;
}

bool checkProject(const QString& project, QJsonObject& entry) {
    if (!isProjectDir(project))
        return false;
    const auto rules = readRules(project);
    if (!rules)
        return false;
    const QFileInfo master(masterPath(project));
    QSet<QString> secrets;
    qint64 warn = 0;
    for (const Rule& rule : *rules) {
        const QString text = QString::fromUtf8(rule.text);
        findSecrets(text, secrets);
        warn += countExpired(text);
        // A missing master counts as older than every rule.
        const QFileInfo file(rulesDir(project) + u'/' + rule.name);
        warn += !master.isFile() || file.lastModified() > master.lastModified();
    }
    if (master.isFile()) {
        const auto text = readAll(master.filePath());
        if (!text) {
            complain(L("cannot read %1", "не удалось прочитать %1").arg(master.filePath()));
            return false;
        }
        findSecrets(QString::fromUtf8(*text), secrets);
    }
    entry.insert(u"secrets", secrets.size());
    entry.insert(u"warn", warn);
    entry.insert(u"conflicts", countConflicts(project));
    entry.insert(u"checked", now());
    say(L("checked %1: secrets %2, warnings %3, conflicts %4",
          "проверен %1: секретов %2, предупреждений %3, конфликтов %4")
            .arg(project)
            .arg(secrets.size())
            .arg(warn)
            .arg(entry.value(u"conflicts").toInteger()));
    return true;
}

// ---- commands -----------------------------------------------------------------------------------

struct Command {
    QString name;
    QString path; // empty with --all
    bool all = false;
    bool sync = false;
};

QString usage() {
    return L("usage: quillnest init PATH [--sync] [-q] | sync (--all | PATH) [-q] | "
             "check (--all | PATH) [-q] | watch --all [-q]",
             "использование: quillnest init ПУТЬ [--sync] [-q] | sync (--all | ПУТЬ) [-q] | "
             "check (--all | ПУТЬ) [-q] | watch --all [-q]");
}

// The command, or nothing after a message on stderr.
std::optional<Command> parse(const QStringList& args) {
    if (args.isEmpty()) {
        complain(usage());
        return std::nullopt;
    }
    Command cmd;
    cmd.name = args.front();
    if (!QStringList{QStringLiteral("init"), QStringLiteral("sync"), QStringLiteral("check"),
                     QStringLiteral("watch")}
             .contains(cmd.name)) {
        complain(L("unknown command: %1", "неизвестная команда: %1").arg(cmd.name) + u'\n' +
                 usage());
        return std::nullopt;
    }
    QStringList paths;
    bool options = true;
    for (const QString& arg : args.mid(1)) {
        if (options && arg == u"--")
            options = false;
        else if (options && arg == u"-q")
            quiet = true;
        else if (options && arg == u"--all" && cmd.name != u"init")
            cmd.all = true;
        else if (options && arg == u"--sync" && cmd.name == u"init")
            cmd.sync = true;
        else if (options && arg.startsWith(u'-'))
            paths.append(QString()); // an unknown option: rejected below
        else
            paths.append(arg);
    }
    const bool ok = cmd.name == u"watch" ? cmd.all && paths.isEmpty()
                                         : cmd.all != (paths.size() == 1) && paths.size() <= 1 &&
                                               !paths.contains(QString());
    if (!ok) {
        complain(L("bad arguments: %1", "неверные аргументы: %1").arg(args.join(u' ')) + u'\n' +
                 usage());
        return std::nullopt;
    }
    if (!paths.isEmpty()) {
        QString path = paths.front();
        if (QFileInfo(path).isRelative())
            path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
        while (path.size() > 1 && path.endsWith(u'/'))
            path.chop(1);
        cmd.path = path;
    }
    return cmd;
}

// init, sync and check: one locked read-modify-write of the state file.
int runOnce(const Command& cmd) {
    bool ok = false;
    const int delay = qEnvironmentVariableIntValue("QUILLNEST_STANDIN_DELAY_MS", &ok);
    if (ok && delay > 0)
        QThread::msleep(std::min(delay, 600'000));

    // An empty state directory puts the state file into /, which is there.
    if (!stateDir().isEmpty() && !QDir().mkpath(stateDir())) {
        complain(L("cannot create %1", "не удалось создать %1").arg(stateDir()));
        return 1;
    }
    QLockFile lock(lockPath());
    if (!lockState(lock, 30'000))
        return 1;
    auto root = loadStateForUpdate();
    if (!root)
        return 1;
    QJsonObject projects = root->value(u"projects").toObject();

    QStringList targets = cmd.all ? projects.keys() : QStringList{cmd.path};
    if (cmd.all && targets.isEmpty())
        say(L("no projects registered", "нет зарегистрированных проектов"));
    int status = 0;
    for (const QString& project : targets) {
        if (cmd.all && !QFileInfo::exists(project)) {
            say(L("skipped %1: it no longer exists", "пропущен %1: его больше нет").arg(project));
            continue;
        }
        QJsonObject entry = projects.value(project).toObject();
        bool done = isProjectDir(project);
        if (done && cmd.name == u"init") {
            done = QDir().mkpath(rulesDir(project));
            if (!done)
                complain(L("cannot create %1", "не удалось создать %1").arg(rulesDir(project)));
            else if (!cmd.sync)
                say(L("registered %1", "зарегистрирован %1").arg(project));
        }
        if (done && (cmd.name == u"sync" || cmd.sync))
            done = syncProject(project, entry);
        if (done && cmd.name == u"check")
            done = checkProject(project, entry);
        if (done)
            projects.insert(project, entry);
        else
            status = 1;
    }
    root->insert(u"projects", projects);
    return saveState(*root) ? status : 1;
}

// Waits up to `timeout` for one of the signals of `stop`, which are blocked; true when one came.
// macOS has no sigtimedwait(): there the pending signals are looked at after the wait.
bool awaitSignal(const sigset_t& stop, const timespec& timeout) {
#ifdef __APPLE__
    timespec left = timeout;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    sigset_t pending;
    if (sigpending(&pending) != 0)
        return false;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        if (sigismember(&stop, sig) && sigismember(&pending, sig))
            return true;
    return false;
#else
    return sigtimedwait(&stop, nullptr, &timeout) > 0;
#endif
}

// Re-syncs and checks every registered project whose rules would now build a master other than the
// one recorded at its last sync, so that secrets added to the rules are counted at once (a check
// that fails keeps the sync's result); each such outcome is tried once, so a failing project is not
// retried every second. Signals are taken synchronously, so a sync in progress always completes.
int watch() {
    sigset_t stop;
    sigemptyset(&stop);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stop, sig);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    say(L("watching the registered projects; stop with Ctrl+C",
          "слежу за зарегистрированными проектами; остановить — Ctrl+C"));

    QHash<QString, QString> tried; // project -> master hash last attempted
    for (;;) {
        const QJsonObject projects =
            readStateFile().value_or(QJsonObject{}).value(u"projects").toObject();
        QHash<QString, QString> changed;
        for (auto it = projects.begin(); it != projects.end(); ++it) {
            if (!QFileInfo(it.key()).isDir())
                continue;
            const auto rules = readRules(it.key());
            const QString hash = rules ? sha256(buildMaster(*rules)) : QString();
            if (rules && hash != it.value().toObject().value(u"master_hash").toString() &&
                hash != tried.value(it.key()))
                changed.insert(it.key(), hash);
        }
        QLockFile lock(lockPath());
        if (!changed.isEmpty() && lockState(lock, 200)) {
            if (auto root = loadStateForUpdate()) {
                QJsonObject current = root->value(u"projects").toObject();
                for (auto it = changed.begin(); it != changed.end(); ++it) {
                    tried.insert(it.key(), it.value());
                    QJsonObject entry = current.value(it.key()).toObject();
                    if (current.contains(it.key()) && syncProject(it.key(), entry)) {
                        checkProject(it.key(), entry);
                        current.insert(it.key(), entry);
                    }
                }
                root->insert(u"projects", current);
                saveState(*root);
            }
            lock.unlock();
        }
        if (awaitSignal(stop, timespec{1, 0}))
            return 0;
    }
}

void logInvocation(const QStringList& args) {
    const QString path = qEnvironmentVariable("QUILLNEST_STANDIN_LOG");
    QFile log(path);
    if (path.isEmpty() || !log.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // One write per line, so that lines of concurrent runs do not interleave.
    log.write(QJsonDocument(QJsonArray::fromStringList(args)).toJson(QJsonDocument::Compact) +
              '\n');
}

} // namespace
} // namespace quillnest

int main(int argc, char** argv) {
    using namespace quillnest;
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    logInvocation(args);
    ru = qEnvironmentVariable("QUILLNEST_LANG") == u"ru";
    const auto cmd = parse(args);
    if (!cmd)
        return 2;
    return cmd->name == u"watch" ? watch() : runOnce(*cmd);
}
