#include "menu/compose.h"

#include <QTest>

#include <limits>

using namespace quillnest;

Q_DECLARE_METATYPE(quillnest::Summary)
Q_DECLARE_METATYPE(quillnest::Busy)
Q_DECLARE_METATYPE(quillnest::Composition)

namespace {

constexpr auto max64 = std::numeric_limits<std::int64_t>::max();
constexpr auto min64 = std::numeric_limits<std::int64_t>::min();

const QDateTime now(QDate(2026, 3, 15), QTime(12, 0), Qt::UTC);

enum Dates { NoDates, SyncedOnly, CheckedOnly, Both };

Summary summary(Dates dates, std::int64_t secrets = 0, std::int64_t warn = 0,
                std::int64_t conflicts = 0) {
    Summary s;
    if (dates == SyncedOnly || dates == Both)
        s.synced = now.addSecs(-5 * 60);
    if (dates == CheckedOnly || dates == Both)
        s.checked = now.addSecs(-2 * 3600);
    s.secrets = secrets;
    s.warn = warn;
    s.conflicts = conflicts;
    return s;
}

Composition composed(const Summary& s, bool ru = false, Busy busy = Busy::None,
                     bool watching = false) {
    MenuInputs in;
    in.summary = s;
    in.ru = ru;
    in.busy = busy;
    in.watching = watching;
    in.now = now;
    return compose(in);
}

QStringList utf8(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts)
        out << QString::fromUtf8(t);
    return out;
}

QStringList titles(const Menu& menu) {
    QStringList out;
    for (const MenuItem& item : menu)
        out << (item.separator ? QStringLiteral("---") : item.title);
    return out;
}

const MenuItem& itemTitled(const Menu& menu, const QString& title) {
    for (const MenuItem& item : menu)
        if (item.title == title)
            return item;
    static const MenuItem none;
    return none;
}

} // namespace

class TestCompose : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusLineAndColour_data();
    void statusLineAndColour();
    void wholeMenuWhenNothingYet_data();
    void wholeMenuWhenNothingYet();
    void datesProjectsAndWatch();
    void busy_data();
    void busy();
    void namesFollowMeaning_data();
    void namesFollowMeaning();
    void conflictsItem_data();
    void conflictsItem();
    void projectTitles_data();
    void projectTitles();
};

void TestCompose::statusLineAndColour_data() {
    QTest::addColumn<Summary>("s");
    QTest::addColumn<bool>("ru");
    QTest::addColumn<StatusColor>("color");
    QTest::addColumn<QString>("line");

    const auto G = StatusColor::Gray, R = StatusColor::Red, Y = StatusColor::Yellow,
               Gr = StatusColor::Green;
    QTest::newRow("empty") << Summary() << false << G << "Nothing synced yet";
    QTest::newRow("empty ru") << Summary() << true << G << "Ещё ничего не синхронизировано";
    QTest::newRow("counts ignored without dates")
        << summary(NoDates, 3, 2, 1) << false << G << "Nothing synced yet";
    QTest::newRow("secrets name themselves alone")
        << summary(Both, 2, 4, 1) << false << R << "Found 2 password(s)/key(s) in rules";
    QTest::newRow("secrets ru") << summary(CheckedOnly, 2, 4, 1) << true << R
                                << "В правилах найдено паролей/ключей: 2";
    QTest::newRow("conflicts") << summary(SyncedOnly, 0, 4, 1) << false << Y
                               << "Conflicts: 1 — see .quillnest/conflicts";
    QTest::newRow("conflicts ru") << summary(Both, 0, 0, 1) << true << Y
                                  << "Конфликтов: 1 — см. .quillnest/conflicts";
    QTest::newRow("warnings") << summary(Both, 0, 3, 0) << false << Y
                              << "Warnings: 3 (expired or out of sync)";
    QTest::newRow("warnings ru") << summary(Both, 0, 3, 0) << true << Y
                                 << "Предупреждений: 3 (истёк срок или не синхронно)";
    QTest::newRow("clean") << summary(Both) << false << Gr << "All rules in sync and clean";
    QTest::newRow("clean ru") << summary(CheckedOnly) << true << Gr
                              << "Все правила синхронны, всё чисто";
    // Negative counts never name a row but do enter the sum that picks the colour.
    QTest::newRow("negative conflicts cancel warnings")
        << summary(Both, 0, 3, -5) << false << Gr << "Warnings: 3 (expired or out of sync)";
    QTest::newRow("negative secrets")
        << summary(Both, -1, 0, 0) << false << Gr << "All rules in sync and clean";
    QTest::newRow("negative warnings, sum 1")
        << summary(Both, 0, -1, 2) << false << Y << "Conflicts: 2 — see .quillnest/conflicts";
    // Near the 64-bit limits the true sum decides; no wrap-around.
    QTest::newRow("max + max") << summary(Both, 0, max64, max64) << false << Y
                               << "Conflicts: 9223372036854775807 — see .quillnest/conflicts";
    QTest::newRow("min + min") << summary(Both, min64, min64, min64) << false << Gr
                               << "All rules in sync and clean";
    QTest::newRow("max + min") << summary(Both, 0, max64, min64) << false << Gr
                               << "Warnings: 9223372036854775807 (expired or out of sync)";
    QTest::newRow("sum exactly 1") << summary(Both, 0, max64, 1 - max64) << false << Y
                                   << "Warnings: 9223372036854775807 (expired or out of sync)";
    QTest::newRow("max secrets") << summary(Both, max64, max64, max64) << true << R
                                 << "В правилах найдено паролей/ключей: 9223372036854775807";
}

void TestCompose::statusLineAndColour() {
    QFETCH(Summary, s);
    QFETCH(bool, ru);
    QFETCH(StatusColor, color);
    QFETCH(QString, line);
    const Composition c = composed(s, ru);
    QCOMPARE(c.color, color);
    QCOMPARE(statusColor(s), color);
    QCOMPARE(c.menu.front().title, line);
}

void TestCompose::wholeMenuWhenNothingYet_data() {
    QTest::addColumn<bool>("ru");
    QTest::addColumn<QStringList>("menu");
    QTest::addColumn<QString>("noProjects");

    const char* credit = creditTitle;
    const char* sep = "---";
    QTest::newRow("en") << false
                        << utf8({"Nothing synced yet", "Projects: 0", "Last sync: never",
                                 "Last check: never", sep, "Sync now", "Check rules",
                                 "Watch for changes", sep, "Open master file",
                                 "Add project folder…", sep, credit, "Quit"})
                        << "No projects yet — run `quillnest init`";
    QTest::newRow("ru") << true
                        << utf8({"Ещё ничего не синхронизировано", "Проектов: 0",
                                 "Синхронизация: ещё не было", "Проверка: ещё не было", sep,
                                 "Синхронизировать сейчас", "Проверить правила",
                                 "Следить за изменениями", sep, "Открыть главный файл",
                                 "Добавить папку проекта…", sep, credit, "Выйти"})
                        << "Проектов нет — `quillnest init`";
}

// The nothing-yet menu: titles in order; info items disabled and inert, every other item enabled;
// keys only on sync, check and Quit; the master-file item opens the no-projects entry.
void TestCompose::wholeMenuWhenNothingYet() {
    QFETCH(bool, ru);
    QFETCH(QStringList, menu);
    QFETCH(QString, noProjects);
    const Composition c = composed(Summary(), ru);
    QCOMPARE(titles(c.menu), menu);
    const Action actions[] = {
        Action::None,       Action::None,     Action::None,        Action::None, Action::None,
        Action::SyncNow,    Action::CheckNow, Action::ToggleWatch, Action::None, Action::None,
        Action::AddProject, Action::None,     Action::OpenSite,    Action::Quit};
    const char* keys[] = {"", "", "", "", "", "s", "r", "", "", "", "", "", "", "q"};
    for (std::size_t i = 0; i < c.menu.size(); ++i) {
        const MenuItem& item = c.menu[i];
        QCOMPARE(item.action, actions[i]);
        QCOMPARE(item.key, QString::fromLatin1(keys[i]));
        QCOMPARE(item.enabled, i >= 4);
        QCOMPARE(item.separator, i == 4 || i == 8 || i == 11);
        QCOMPARE(item.hasSubmenu, i == 9);
        QVERIFY(!item.checked && item.represented.isEmpty() && item.toolTip.isEmpty());
    }
    const MenuItem& master = c.menu.at(9);
    QCOMPARE(master.submenu.size(), std::size_t(1));
    QCOMPARE(master.submenu.front().title, noProjects);
    QVERIFY(!master.submenu.front().enabled);
    QCOMPARE(master.submenu.front().action, Action::None);
}

void TestCompose::datesProjectsAndWatch() {
    Summary s = summary(SyncedOnly);
    s.projects = QStringList{QStringLiteral("/a"), QStringLiteral("/b")};
    Menu menu = composed(s, false, Busy::None, true).menu;
    QCOMPARE(menu[1].title, QStringLiteral("Projects: 2"));
    QCOMPARE(menu[2].title, QStringLiteral("Last sync: 5 minutes ago"));
    QCOMPARE(menu[3].title, QStringLiteral("Last check: never"));
    QVERIFY(menu[7].checked);
    menu = composed(summary(CheckedOnly), true, Busy::None, false).menu;
    QCOMPARE(menu[2].title, QStringLiteral("Синхронизация: ещё не было"));
    QCOMPARE(menu[3].title, QStringLiteral("Проверка: 2 часа назад"));
    QVERIFY(!menu[7].checked);
}

void TestCompose::busy_data() {
    QTest::addColumn<Busy>("busy");
    QTest::addColumn<bool>("ru");
    QTest::addColumn<QString>("sync");
    QTest::addColumn<QString>("check");

    QTest::newRow("idle") << Busy::None << false << "Sync now"
                          << "Check rules";
    QTest::newRow("sync") << Busy::Sync << false << "Syncing…"
                          << "Check rules";
    QTest::newRow("check") << Busy::Check << false << "Sync now"
                           << "Checking…";
    QTest::newRow("sync ru") << Busy::Sync << true << "Синхронизирую…"
                             << "Проверить правила";
    QTest::newRow("check ru") << Busy::Check << true << "Синхронизировать сейчас"
                              << "Проверяю…";
}

void TestCompose::busy() {
    QFETCH(Busy, busy);
    QFETCH(bool, ru);
    QFETCH(QString, sync);
    QFETCH(QString, check);
    const bool idle = busy == Busy::None;
    Summary s = summary(Both, 0, 0, 2);
    s.projects = QStringList{QStringLiteral("/p/a")};
    const Menu menu = composed(s, ru, busy).menu;
    QCOMPARE(menu[5].title, sync);
    QCOMPARE(menu[6].title, check);
    QCOMPARE(menu[5].action, idle ? Action::SyncNow : Action::None);
    QCOMPARE(menu[6].action, idle ? Action::CheckNow : Action::None);
    QCOMPARE(menu[10].action, idle ? Action::AddProject : Action::None);
    // What runs never touches the other commands.
    QCOMPARE(menu[7].action, Action::ToggleWatch);
    QCOMPARE(menu[9].submenu.front().action, Action::OpenMaster);
    QCOMPARE(menu[11].action, Action::OpenConflicts);
    QCOMPARE(menu[13].action, Action::OpenSite);
    QCOMPARE(menu[14].action, Action::Quit);
}

void TestCompose::conflictsItem_data() {
    QTest::addColumn<std::int64_t>("conflicts");
    QTest::addColumn<bool>("present");
    QTest::newRow("none") << std::int64_t(0) << false;
    QTest::newRow("negative") << std::int64_t(-3) << false;
    QTest::newRow("min") << min64 << false;
    QTest::newRow("one") << std::int64_t(1) << true;
    QTest::newRow("max") << max64 << true;
}

void TestCompose::conflictsItem() {
    QFETCH(std::int64_t, conflicts);
    QFETCH(bool, present);
    for (bool ru : {false, true}) {
        const Menu menu = composed(summary(NoDates, 0, 0, conflicts), ru).menu;
        QCOMPARE(menu.size(), present ? std::size_t(15) : std::size_t(14));
        const QString title =
            ru ? QStringLiteral("Папка конфликтов") : QStringLiteral("Show conflicts folder");
        QCOMPARE(itemTitled(menu, title).action, present ? Action::OpenConflicts : Action::None);
        if (present)
            QCOMPARE(menu[11].title, title);
    }
}

void TestCompose::projectTitles_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("plain") << "/Users/a/site"
                           << "site";
    QTest::newRow("trailing slash") << "/Users/a/site/"
                                    << "site";
    QTest::newRow("trailing slashes") << "/Users/a/site///"
                                      << "site";
    QTest::newRow("double slash inside") << "/Users/a//site"
                                         << "site";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("slashes only") << "///"
                                  << "/";
    QTest::newRow("relative") << "site"
                              << "site";
    QTest::newRow("odd characters") << "/tmp/R&D <i>x<i> \"q\" 'ёж'"
                                    << "R&D <i>x<i> \"q\" 'ёж'";
}

void TestCompose::projectTitles() {
    QFETCH(QString, path);
    QFETCH(QString, title);
    Summary s = summary(Both);
    // The same folder listed twice, once with a trailing slash: one title, two tooltips.
    s.projects = QStringList{path, path + u'/'};
    for (bool ru : {false, true}) {
        const Composition c = composed(s, ru);
        const MenuItem& master = c.menu.at(9);
        QCOMPARE(master.submenu.size(), std::size_t(2));
        for (int i = 0; i < 2; ++i) {
            const MenuItem& item = master.submenu.at(i);
            QCOMPARE(item.title, title);
            QCOMPARE(item.represented, s.projects.at(i));
            QCOMPARE(item.toolTip, s.projects.at(i));
            QCOMPARE(item.action, Action::OpenMaster);
            QVERIFY(item.enabled);
            QVERIFY(item.key.isEmpty());
        }
    }
}

void TestCompose::namesFollowMeaning_data() {
    QTest::addColumn<Composition>("other");
    QTest::newRow("red, Russian") << composed(summary(Both, 3), true);
    QTest::newRow("syncing") << composed(summary(Both), false, Busy::Sync);
    QTest::newRow("watching") << composed(summary(SyncedOnly), false, Busy::Check, true);
}

// The same items carry the same names whatever the state, titles and language say; names are
// unique, and only the watch item is checkable.
void TestCompose::namesFollowMeaning() {
    QFETCH(Composition, other);
    const auto names = [](const Menu& menu) {
        QStringList out;
        for (const MenuItem& item : menu)
            out << item.name + (item.checkable ? QStringLiteral("[x]") : QString());
        return out;
    };
    const Menu base = composed(summary(NoDates)).menu;
    QCOMPARE(names(other.menu), names(base));
    const QStringList all = names(base);
    QCOMPARE(QSet<QString>(all.cbegin(), all.cend()).size(), all.size());
    QVERIFY(all.contains(QStringLiteral("watch[x]")));
}

QTEST_APPLESS_MAIN(TestCompose)
#include "test_compose.moc"
