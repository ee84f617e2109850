#include "menu/relative_time.h"

#include <QTest>

using namespace quillnest;

namespace {

const QDateTime now(QDate(2026, 3, 15), QTime(12, 0), Qt::UTC);

QDateTime before(qint64 days, qint64 hours = 0, qint64 minutes = 0, qint64 seconds = 0) {
    return now.addSecs(-(((days * 24 + hours) * 60 + minutes) * 60 + seconds));
}

} // namespace

class TestRelativeTime : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wording_data();
    void wording();
    void absentOrInvalidIsNever();
};

void TestRelativeTime::wording_data() {
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QString>("en");
    QTest::addColumn<QString>("ru");

    QTest::newRow("same instant") << now << "in 0 seconds"
                                  << "через 0 секунд";
    QTest::newRow("under a second") << now.addMSecs(-999) << "in 0 seconds"
                                    << "через 0 секунд";
    QTest::newRow("future is now") << now.addDays(400) << "in 0 seconds"
                                   << "через 0 секунд";
    QTest::newRow("1 s") << before(0, 0, 0, 1) << "1 second ago"
                         << "1 секунду назад";
    QTest::newRow("59 s") << before(0, 0, 0, 59) << "59 seconds ago"
                          << "59 секунд назад";
    QTest::newRow("60 s") << before(0, 0, 0, 60) << "1 minute ago"
                          << "1 минуту назад";
    QTest::newRow("89 s") << before(0, 0, 0, 89) << "1 minute ago"
                          << "1 минуту назад";
    QTest::newRow("2 min") << before(0, 0, 2) << "2 minutes ago"
                           << "2 минуты назад";
    QTest::newRow("21 min") << before(0, 0, 21) << "21 minutes ago"
                            << "21 минуту назад";
    QTest::newRow("59 min 59 s") << before(0, 0, 59, 59) << "59 minutes ago"
                                 << "59 минут назад";
    QTest::newRow("1 h") << before(0, 1) << "1 hour ago"
                         << "1 час назад";
    QTest::newRow("1 h 59 min") << before(0, 1, 59) << "1 hour ago"
                                << "1 час назад";
    QTest::newRow("23 h 59 min") << before(0, 23, 59) << "23 hours ago"
                                 << "23 часа назад";
    QTest::newRow("1 day") << before(1) << "1 day ago"
                           << "1 день назад";
    QTest::newRow("5 days") << before(5) << "5 days ago"
                            << "5 дней назад";
    QTest::newRow("6 days 23 h") << before(6, 23) << "6 days ago"
                                 << "6 дней назад";
    QTest::newRow("7 days") << before(7) << "1 week ago"
                            << "1 неделю назад";
    QTest::newRow("8 days") << before(8) << "1 week ago"
                            << "1 неделю назад";
    QTest::newRow("3 weeks") << before(21) << "3 weeks ago"
                             << "3 недели назад";
    // 15 Feb 12:01 to 15 Mar 12:00 is not yet a calendar month: 27 days 23 h 59 min.
    QTest::newRow("a minute short of a month")
        << QDateTime(QDate(2026, 2, 15), QTime(12, 1), Qt::UTC) << "3 weeks ago"
        << "3 недели назад";
    QTest::newRow("1 month") << now.addMonths(-1) << "1 month ago"
                             << "1 месяц назад";
    QTest::newRow("5 months") << now.addMonths(-5) << "5 months ago"
                              << "5 месяцев назад";
    QTest::newRow("a second short of a year") << now.addYears(-1).addSecs(1) << "11 months ago"
                                              << "11 месяцев назад";
    QTest::newRow("1 year") << now.addYears(-1) << "1 year ago"
                            << "1 год назад";
    QTest::newRow("2 years") << now.addYears(-2).addDays(-40) << "2 years ago"
                             << "2 года назад";
    QTest::newRow("5 years") << now.addYears(-5) << "5 years ago"
                             << "5 лет назад";
    // The instant counts, not the offset it is written with: 13:00 at +03:00 is 10:00 UTC.
    QTest::newRow("other offset") << QDateTime(QDate(2026, 3, 15), QTime(13, 0), Qt::OffsetFromUTC,
                                               3 * 3600)
                                  << "2 hours ago"
                                  << "2 часа назад";
}

void TestRelativeTime::wording() {
    QFETCH(QDateTime, date);
    QFETCH(QString, en);
    QFETCH(QString, ru);
    QCOMPARE(when(date, false, now), en);
    QCOMPARE(when(date, true, now), ru);
}

void TestRelativeTime::absentOrInvalidIsNever() {
    QCOMPARE(when(std::nullopt, false, now), QStringLiteral("never"));
    QCOMPARE(when(std::nullopt, true, now), QStringLiteral("ещё не было"));
    QCOMPARE(when(QDateTime(), false, now), QStringLiteral("never"));
    // Instants far outside any real state file are worded, not refused.
    QVERIFY(when(QDateTime(QDate(-9999, 1, 1), QTime(0, 0), Qt::UTC), false, now)
                .endsWith(QStringLiteral(" years ago")));
}

QTEST_APPLESS_MAIN(TestRelativeTime)
#include "test_relative_time.moc"
