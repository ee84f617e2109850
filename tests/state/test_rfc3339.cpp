#include "state/rfc3339.h"

#include <QDate>
#include <QTest>

using namespace quillnest;

class TestRfc3339 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accepted_data();
    void accepted();
    void rejected_data();
    void rejected();
    void calendarAgreesWithQDate();
};

void TestRfc3339::accepted_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds"); // since the epoch, UTC

    QTest::newRow("utc") << u"2024-05-01T10:00:00Z"_qs << qint64(1714557600);
    QTest::newRow("positive offset") << u"2024-05-01T12:30:00+03:00"_qs << qint64(1714555800);
    QTest::newRow("negative offset") << u"2024-05-01T05:15:00-04:45"_qs << qint64(1714557600);
    QTest::newRow("unknown local offset") << u"2024-05-01T10:00:00-00:00"_qs << qint64(1714557600);
    QTest::newRow("lower-case t and z") << u"2024-05-01t10:00:00z"_qs << qint64(1714557600);
    QTest::newRow("epoch") << u"1970-01-01T00:00:00Z"_qs << qint64(0);
    QTest::newRow("before the epoch") << u"1969-12-31T23:59:59Z"_qs << qint64(-1);
    QTest::newRow("largest offset") << u"1970-01-01T00:00:00+23:59"_qs << qint64(-86340);
    QTest::newRow("offset crosses into next year")
        << u"1999-12-31T23:00:00-02:00"_qs << qint64(946688400);
    QTest::newRow("leap day") << u"2024-02-29T00:00:00Z"_qs << qint64(1709164800);
    QTest::newRow("leap day of a 400th year") << u"2000-02-29T12:00:00Z"_qs << qint64(951825600);
    QTest::newRow("last second of a day") << u"2023-12-31T23:59:59Z"_qs << qint64(1704067199);
    QTest::newRow("first instant of year 0") << u"0000-01-01T00:00:00Z"_qs << qint64(-62167219200);
    QTest::newRow("year 0 before UTC") << u"0000-01-01T00:00:00+01:00"_qs << qint64(-62167222800);
    QTest::newRow("last instant of year 9999")
        << u"9999-12-31T23:59:59Z"_qs << qint64(253402300799);
}

void TestRfc3339::accepted() {
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    QCOMPARE(parseRfc3339Seconds(text), std::optional<std::int64_t>(seconds));
    const std::optional<QDateTime> date = parseRfc3339(text);
    QVERIFY(date);
    QCOMPARE(date->timeSpec(), Qt::UTC);
    QCOMPARE(date->toSecsSinceEpoch(), seconds);
}

void TestRfc3339::rejected_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString();
    QTest::newRow("fractional seconds") << u"2024-05-01T10:00:00.5Z"_qs;
    QTest::newRow("date only") << u"2024-05-01"_qs;
    QTest::newRow("no zone") << u"2024-05-01T10:00:00"_qs;
    QTest::newRow("no seconds") << u"2024-05-01T10:00Z"_qs;
    QTest::newRow("space separator") << u"2024-05-01 10:00:00Z"_qs;
    QTest::newRow("offset without colon") << u"2024-05-01T10:00:00+0300"_qs;
    QTest::newRow("offset hour 24") << u"2024-05-01T10:00:00+24:00"_qs;
    QTest::newRow("offset minute 60") << u"2024-05-01T10:00:00+03:60"_qs;
    QTest::newRow("zone letter other than Z") << u"2024-05-01T10:00:00A"_qs;
    QTest::newRow("unicode minus") << u"2024-05-01T10:00:00\u221203:00"_qs;
    QTest::newRow("trailing space") << u"2024-05-01T10:00:00Z "_qs;
    QTest::newRow("month 0") << u"2024-00-10T10:00:00Z"_qs;
    QTest::newRow("month 13") << u"2024-13-10T10:00:00Z"_qs;
    QTest::newRow("day 0") << u"2024-05-00T10:00:00Z"_qs;
    QTest::newRow("April 31") << u"2024-04-31T10:00:00Z"_qs;
    QTest::newRow("February 29 of a common year") << u"2023-02-29T10:00:00Z"_qs;
    QTest::newRow("February 29 of a 100th year") << u"1900-02-29T10:00:00Z"_qs;
    QTest::newRow("February 30 of a leap year") << u"2024-02-30T10:00:00Z"_qs;
    QTest::newRow("hour 24") << u"2024-05-01T24:00:00Z"_qs;
    QTest::newRow("minute 60") << u"2024-05-01T10:60:00Z"_qs;
    QTest::newRow("leap second") << u"2016-12-31T23:59:60Z"_qs;
    QTest::newRow("five-digit year") << u"12024-05-01T10:00:00Z"_qs;
    QTest::newRow("negative year") << u"-2024-05-01T10:00:00Z"_qs;
    QTest::newRow("one-digit month") << u"2024-5-01T10:00:00Z"_qs;
    QTest::newRow("full-width digits") << u"\uff12\uff10\uff12\uff14-05-01T10:00:00Z"_qs;
    QTest::newRow("Arabic-Indic digits") << u"2024-05-01T\u0661\u0660:00:00Z"_qs;
}

void TestRfc3339::rejected() {
    QFETCH(QString, text);
    QCOMPARE(parseRfc3339Seconds(text), std::nullopt);
    QCOMPARE(parseRfc3339(text), std::nullopt);
}

// Month ends and leap days of every year the form can write, against Qt's calendar.
void TestRfc3339::calendarAgreesWithQDate() {
    const QDate epoch(1970, 1, 1);
    for (int year = 0; year <= 9999; ++year) {
        for (const auto& [month, day] : {std::pair{1, 31}, {2, 28}, {2, 29}, {3, 1}, {12, 31}}) {
            const QString text = QString::asprintf("%04d-%02d-%02dT00:00:00Z", year, month, day);
            const QDate date(year == 0 ? -1 : year, month, day); // QDate has no year 0
            const std::optional<std::int64_t> seconds = parseRfc3339Seconds(text);
            if (!date.isValid()) {
                QVERIFY2(!seconds, qPrintable(text));
                continue;
            }
            QVERIFY2(seconds, qPrintable(text));
            QCOMPARE(*seconds, epoch.daysTo(date) * 86400);
        }
    }
}

QTEST_APPLESS_MAIN(TestRfc3339)
#include "test_rfc3339.moc"
