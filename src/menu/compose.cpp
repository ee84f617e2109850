#include "menu/compose.h"

#include "menu/relative_time.h"

#include <QStringView>

namespace quillnest {

const char* const creditTitle = "Quillnest bar — quillnest.example";
const char* const siteUrl = "https://quillnest.example/";

namespace {

// Chooses the text of an English/Russian pair by the composition's own language flag.
class Texts {
public:
    explicit Texts(bool ru) : ru_(ru) {}
    QString operator()(QStringView en, QStringView ruText) const {
        return (ru_ ? ruText : en).toString();
    }

private:
    bool ru_;
};

bool nothingYet(const Summary& s) {
    return !s.synced && !s.checked;
}

// warn + conflicts >= 1 on the true sum. When the 64-bit sum overflows both counts share a sign,
// which is then the sign of the true sum.
bool warnOrConflicts(const Summary& s) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(s.warn, s.conflicts, &sum))
        return s.warn > 0;
    return sum >= 1;
}

// Plain decimal digits, a leading minus for negatives, no grouping.
QString count(std::int64_t n) {
    return QString::number(static_cast<qint64>(n));
}

MenuItem label(QString name, QString title) {
    MenuItem item;
    item.name = std::move(name);
    item.title = std::move(title);
    item.enabled = false;
    return item;
}

MenuItem command(QString name, QString title, Action action, QString key = {}) {
    MenuItem item;
    item.name = std::move(name);
    item.title = std::move(title);
    item.action = action;
    item.key = std::move(key);
    return item;
}

// Separators are named by their place: the n-th of the menu.
MenuItem separator(int n) {
    MenuItem item;
    item.name = QStringLiteral("separator:%1").arg(n);
    item.separator = true;
    return item;
}

// The last component of a path: trailing slashes are ignored, a path of slashes alone gives "/".
QString lastPathComponent(const QString& path) {
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == u'/')
        --end;
    if (end == 0)
        return path.isEmpty() ? QString() : QStringLiteral("/");
    const qsizetype start = path.lastIndexOf(u'/', end - 1) + 1;
    return path.mid(start, end - start);
}

QString statusLine(const Summary& s, const Texts& t) {
    if (nothingYet(s))
        return t(u"Nothing synced yet", u"Ещё ничего не синхронизировано");
    if (s.secrets >= 1)
        return t(u"Found ", u"В правилах найдено паролей/ключей: ") + count(s.secrets) +
               t(u" password(s)/key(s) in rules", u"");
    if (s.conflicts >= 1)
        return t(u"Conflicts: ", u"Конфликтов: ") + count(s.conflicts) +
               t(u" — see .quillnest/conflicts", u" — см. .quillnest/conflicts");
    if (s.warn >= 1)
        return t(u"Warnings: ", u"Предупреждений: ") + count(s.warn) +
               t(u" (expired or out of sync)", u" (истёк срок или не синхронно)");
    return t(u"All rules in sync and clean", u"Все правила синхронны, всё чисто");
}

std::vector<MenuItem> projectSubmenu(const QStringList& projects, const Texts& t) {
    std::vector<MenuItem> items;
    if (projects.isEmpty()) {
        items.push_back(
            label(QStringLiteral("no-projects"), t(u"No projects yet — run `quillnest init`",
                                                   u"Проектов нет — `quillnest init`")));
        return items;
    }
    items.reserve(projects.size());
    for (const QString& path : projects) {
        MenuItem item =
            command(QStringLiteral("project:") + path, lastPathComponent(path), Action::OpenMaster);
        item.represented = path;
        item.toolTip = path;
        items.push_back(std::move(item));
    }
    return items;
}

} // namespace

QString masterFileTitle(bool ru) {
    return Texts(ru)(u"Open master file", u"Открыть главный файл");
}

QString conflictsTitle(bool ru) {
    return Texts(ru)(u"Show conflicts folder", u"Папка конфликтов");
}

QString projectTitle(const QString& path) {
    return lastPathComponent(path);
}

StatusColor statusColor(const Summary& summary) {
    if (nothingYet(summary))
        return StatusColor::Gray;
    if (summary.secrets > 0)
        return StatusColor::Red;
    if (warnOrConflicts(summary))
        return StatusColor::Yellow;
    return StatusColor::Green;
}

Composition compose(const MenuInputs& inputs) {
    const Summary& s = inputs.summary;
    const Texts t(inputs.ru);
    const bool idle = inputs.busy == Busy::None;
    const bool syncing = inputs.busy == Busy::Sync;
    const bool checking = inputs.busy == Busy::Check;

    Composition result;
    result.color = statusColor(s);
    Menu& menu = result.menu;

    const QString status = statusLine(s, t);
    const QString synced =
        t(u"Last sync: ", u"Синхронизация: ") + when(s.synced, inputs.ru, inputs.now);
    result.toolTip = status + QLatin1Char('\n') + synced;
    result.attention = s.secrets >= 1;
    menu.push_back(label(QStringLiteral("status"), status));
    menu.push_back(label(QStringLiteral("projects"),
                         t(u"Projects: ", u"Проектов: ") + count(s.projects.size())));
    menu.push_back(label(QStringLiteral("synced"), synced));
    menu.push_back(label(QStringLiteral("checked"), t(u"Last check: ", u"Проверка: ") +
                                                        when(s.checked, inputs.ru, inputs.now)));
    menu.push_back(separator(1));

    menu.push_back(command(QStringLiteral("sync"),
                           syncing ? t(u"Syncing…", u"Синхронизирую…")
                                   : t(u"Sync now", u"Синхронизировать сейчас"),
                           idle ? Action::SyncNow : Action::None, QStringLiteral("s")));
    menu.push_back(
        command(QStringLiteral("check"),
                checking ? t(u"Checking…", u"Проверяю…") : t(u"Check rules", u"Проверить правила"),
                idle ? Action::CheckNow : Action::None, QStringLiteral("r")));
    MenuItem watch =
        command(QStringLiteral("watch"), t(u"Watch for changes", u"Следить за изменениями"),
                Action::ToggleWatch);
    watch.checkable = true;
    watch.checked = inputs.watching;
    menu.push_back(std::move(watch));
    menu.push_back(separator(2));

    MenuItem master;
    master.name = QStringLiteral("master");
    master.title = masterFileTitle(inputs.ru);
    master.hasSubmenu = true;
    master.submenu = projectSubmenu(s.projects, t);
    menu.push_back(std::move(master));
    menu.push_back(command(QStringLiteral("add-project"),
                           t(u"Add project folder…", u"Добавить папку проекта…"),
                           idle ? Action::AddProject : Action::None));
    if (s.conflicts >= 1)
        menu.push_back(
            command(QStringLiteral("conflicts"), conflictsTitle(inputs.ru), Action::OpenConflicts));
    menu.push_back(separator(3));

    menu.push_back(
        command(QStringLiteral("site"), QString::fromUtf8(creditTitle), Action::OpenSite));
    menu.push_back(
        command(QStringLiteral("quit"), t(u"Quit", u"Выйти"), Action::Quit, QStringLiteral("q")));
    return result;
}

} // namespace quillnest
