// The state file's JSON syntax as the reader takes it: exactly the texts QJsonDocument takes, with
// the same decoding of keys and the same handling of repeated keys, plus numbers beyond the range
// of a double read as null.
#include "state/summary.h"
#include "support/test_support.h"

#include <QJsonDocument>
#include <QTest>

using namespace quillnest;
using namespace quillnest::test;

namespace {

// A valid state file with one project, /p/a with one secret, around `value` as the value of an
// unknown member.
QByteArray around(const QByteArray& value) {
    return R"({"projects":{"/p/a":{"secrets":1}},"x":)" + value + "}";
}

bool qtAccepts(const QByteArray& json) {
    QJsonParseError error;
    QJsonDocument::fromJson(json, &error);
    return error.error == QJsonParseError::NoError;
}

} // namespace

class TestStateJson : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void syntax_data();
    void syntax();
    void keys_data();
    void keys();
    void repeatedKeys_data();
    void repeatedKeys();
    void depth_data();
    void depth();
    void counts_data();
    void counts();
};

void TestStateJson::syntax_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("valid");

    const auto value = [](const char* name, const QByteArray& text, bool valid) {
        QTest::newRow(name) << around(text) << valid;
    };
    const auto document = [](const char* name, const QByteArray& text, bool valid) {
        QTest::newRow(name) << text << valid;
    };
    const QByteArray plain = R"({"projects":{"/p/a":{"secrets":1}}})";

    // Around the top-level value.
    document("plain", plain, true);
    document("white space around", " \t\r\n" + plain + "\n\r\t ", true);
    document("byte order mark", "\xEF\xBB\xBF" + plain, true);
    document("byte order mark after space", " \xEF\xBB\xBF" + plain, false);
    document("two byte order marks", "\xEF\xBB\xBF\xEF\xBB\xBF" + plain, false);
    document("form feed is no space", "\f" + plain, false);
    document("trailing value", plain + "{}", false);
    document("trailing NUL", plain + QByteArray(1, '\0'), false);
    document("trailing comma", plain + ",", false);

    // Structure.
    value("empty containers", R"([{},[],{"a":[]}])", true);
    value("space everywhere", " [ 1 , { \"a\" : 2 } ] ", true);
    value("comma after last element", "[1,]", false);
    value("comma after last member", R"({"a":1,})", false);
    value("lone comma", "[,]", false);
    value("missing comma", "[1 2]", false);
    value("missing colon", R"({"a" 1})", false);
    value("key not a string", "{1:2}", false);
    value("unclosed array", "[1", false);
    value("mismatched brackets", "[1}", false);
    value("nothing", "", false);
    document("unclosed object", R"({"projects":{"/p/a":{"secrets":1})", false);
    document("member without value", R"({"projects":{"/p/a":}})", false);

    // Literals.
    value("literals", "[true,false,null]", true);
    value("literal cut short", "tru", false);
    value("literal run on", "truex", false);
    value("capitalised literal", "True", false);

    // Numbers: QJsonDocument's loose forms are taken, as it takes them.
    value("fraction and exponent", "-12.5e+3", true);
    value("point without digits after", "1.", true);
    value("point without digits before", ".5", true);
    value("minus point", "-.5", true);
    value("exponent without digits", "1e", false);
    value("exponent sign without digits", "1e+", false);
    value("minus alone", "-", false);
    value("point alone", ".", false);
    value("plus sign", "+1", false);
    value("leading zero", "01", false);
    value("hexadecimal", "0x10", false);
    value("two points", "1.5.3", false);
    value("infinity", "Infinity", false);
    value("beyond a double", "1e400", true);
    value("below a double", "-1e-400", true);
    value("beyond a double, then junk", "1e400.5", false);
    value("smallest subnormal", "5e-324", true);

    // Strings.
    value("every escape", R"("\"\\\/\b\f\n\r\t\u00e9\uD83D\uDE00")", true);
    value("unknown escape stands for its letter", R"("\a\x\'")", true);
    value("escaped byte beyond ASCII", "\"\\\x80\"", true);
    value("escaped lead byte of a sequence", "\"\\\xC3\xA9\"", false);
    value("lone surrogate escape", R"("\ud800")", true);
    value("short unicode escape", R"("\u12")", false);
    value("bad unicode escape", R"("\u12g4")", false);
    value("backslash at the end", "\"\\", false);
    value("raw control characters and NUL", QByteArray("\"a\x01\x1f\0b\"", 7), true);
    value("UTF-8 of every length", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"",
          true);
    value("noncharacter", "\"\xEF\xBF\xBE\"", true);
    value("lone continuation byte", "\"\x80\"", false);
    value("truncated sequence", "\"\xE2\x82\"", false);
    value("overlong NUL", "\"\xC0\x80\"", false);
    value("overlong three bytes", "\"\xE0\x80\x80\"", false);
    value("encoded surrogate", "\"\xED\xA0\x80\"", false);
    value("beyond U+10FFFF", "\"\xF4\x90\x80\x80\"", false);
    value("five-byte form", "\"\xF8\x88\x80\x80\x80\"", false);
    value("byte FF", "\"\xFF\"", false);
    value("unterminated string", "\"abc", false);
}

// Every syntax error gives the empty summary, whatever came before it; QJsonDocument agrees on
// each text except for numbers beyond the range of a double.
void TestStateJson::syntax() {
    QFETCH(QByteArray, json);
    QFETCH(bool, valid);

    const Summary summary = quillnest::summarize(json, underP);
    QCOMPARE(summary.projects, valid ? QStringList{u"/p/a"_qs} : QStringList());
    QCOMPARE(summary.secrets, valid ? 1 : 0);
    if (!QByteArray(QTest::currentDataTag()).contains("a double"))
        QCOMPARE(qtAccepts(json), valid);
}

void TestStateJson::keys_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("path");

    QTest::newRow("plain") << QByteArray("/p/a b") << u"/p/a b"_qs;
    QTest::newRow("escaped slashes") << QByteArray(R"(\/p\/a)") << u"/p/a"_qs;
    QTest::newRow("escaped quote and backslash") << QByteArray(R"(/p/\"q\"\\)") << u"/p/\"q\"\\"_qs;
    QTest::newRow("unicode escape") << QByteArray(R"(/p/\u00e9t\u00C9)") << u"/p/étÉ"_qs;
    QTest::newRow("UTF-8") << QByteArray("/p/\xC3\xA9t\xC3\x89") << u"/p/étÉ"_qs;
    QTest::newRow("surrogate pair escape") << QByteArray(R"(/p/\ud83d\ude00)") << u"/p/😀"_qs;
    QTest::newRow("four-byte UTF-8") << QByteArray("/p/\xF0\x9F\x98\x80") << u"/p/😀"_qs;
    QTest::newRow("lone surrogate escape")
        << QByteArray(R"(/p/\udc00x)") << u"/p/"_qs + QChar(0xDC00) + u'x';
    QTest::newRow("control escapes") << QByteArray(R"(/p/\t\n\b\f\r)") << u"/p/\t\n\b\f\r"_qs;
    QTest::newRow("unknown escape") << QByteArray(R"(/p/\q)") << u"/p/q"_qs;
    QTest::newRow("escaped byte beyond ASCII") << QByteArray("/p/\\\xE9") << u"/p/é"_qs;
    // QJsonDocument decodes strings without escapes as QString::fromUtf8, which drops a byte
    // order mark at the start.
    QTest::newRow("byte order mark first") << QByteArray("\xEF\xBB\xBF/p/a") << u"/p/a"_qs;
    QTest::newRow("byte order mark first, escape after")
        << QByteArray("\xEF\xBB\xBF\\/p/a") << u"\uFEFF/p/a"_qs;
    QTest::newRow("byte order mark last") << QByteArray("/p/a\xEF\xBB\xBF") << u"/p/a\uFEFF"_qs;
    QTest::newRow("NUL") << QByteArray(R"(/p/a\u0000b)") << u"/p/a"_qs + QChar(0) + u'b';
}

// A key decodes to the same path as QJsonDocument gives it, and so do the entry's member names.
void TestStateJson::keys() {
    QFETCH(QByteArray, key);
    QFETCH(QString, path);

    const QByteArray json =
        R"({"pro\u006aects":{")" + key +
        R"(":{"secr\u0065ts":2,"\u0077arn":3,"conflicts":4,"sync\u0065d":"2024-05-01T10:00:00Z"}}})";
    const Summary summary = quillnest::summarize(json, [](const QString&) { return true; });
    QCOMPARE(summary.projects, QStringList{path});
    QCOMPARE(summary.secrets, 2);
    QCOMPARE(summary.warn, 3);
    QCOMPARE(summary.conflicts, 4);
    QVERIFY(summary.synced.has_value());
}

void TestStateJson::repeatedKeys_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("projects");
    QTest::addColumn<qint64>("secrets");
    QTest::addColumn<QString>("synced");

    const QString may = u"2024-05-01T10:00:00Z"_qs;
    QTest::newRow("projects: the last one stands")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1}},"projects":{"/p/b":{"secrets":2}}})")
        << QStringList{u"/p/b"_qs} << qint64(2) << QString();
    QTest::newRow("projects: a last one that is no object")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1}},"projects":[]})") << QStringList()
        << qint64(0) << QString();
    QTest::newRow("projects: written with an escape")
        << QByteArray(R"({"projects":{"/p/a":{}},"pr\u006fjects":{"/p/b":{}}})")
        << QStringList{u"/p/b"_qs} << qint64(0) << QString();
    QTest::newRow("project: the last entry stands")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1},"/p/b":{},"/p/a":{"secrets":5}}})")
        << QStringList{u"/p/a"_qs, u"/p/b"_qs} << qint64(5) << QString();
    QTest::newRow("project: a last entry that is no object")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1},"/p/a":1}})") << QStringList()
        << qint64(0) << QString();
    QTest::newRow("project: an object after one that is not")
        << QByteArray(R"({"projects":{"/p/a":null,"/p/a":{"secrets":3}}})")
        << QStringList{u"/p/a"_qs} << qint64(3) << QString();
    QTest::newRow("project: same path spelled differently")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1},"\/p\/\u0061":{"secrets":7}}})")
        << QStringList{u"/p/a"_qs} << qint64(7) << QString();
    QTest::newRow("project: three times, out of order")
        << QByteArray(R"({"projects":{"/p/c":{"secrets":1},"/p/a":{"secrets":10},
                         "/p/c":{"secrets":100},"/p/b":{},"/p/c":{"secrets":1000}}})")
        << QStringList{u"/p/a"_qs, u"/p/b"_qs, u"/p/c"_qs} << qint64(1010) << QString();
    // A key without escapes that starts with a byte order mark is compared with the mark, but
    // QJsonObject hands it out without.
    QTest::newRow("mark: different key, same path")
        << QByteArray(
               "{\"projects\":{\"\xEF\xBB\xBF/p/a\":{\"secrets\":1},\"/p/a\":{\"secrets\":2}}}")
        << QStringList{u"/p/a"_qs, u"/p/a"_qs} << qint64(3) << QString();
    QTest::newRow("mark: same key as its escape")
        << QByteArray("{\"projects\":{\"\xEF\xBB\xBF/p/a\":{\"secrets\":1},\"\\ufeff/p/a\":{}}}")
        << QStringList() << qint64(0) << QString();
    QTest::newRow("mark: not the projects member")
        << QByteArray("{\"\xEF\xBB\xBFprojects\":{\"/p/a\":{}}}") << QStringList() << qint64(0)
        << QString();
    QTest::newRow("mark: not a count, but a date")
        << QByteArray("{\"projects\":{\"/p/a\":{\"\xEF\xBB\xBFsecrets\":1,"
                      "\"synced\":\"\xEF\xBB\xBF"
                      "2024-05-01T10:00:00Z\"}}}")
        << QStringList{u"/p/a"_qs} << qint64(0) << may;
    QTest::newRow("count: the last one stands")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1,"secrets":2}}})")
        << QStringList{u"/p/a"_qs} << qint64(2) << QString();
    QTest::newRow("count: a last one that does not count")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1,"secrets":"2"}}})")
        << QStringList{u"/p/a"_qs} << qint64(0) << QString();
    QTest::newRow("count: a last one beyond a double")
        << QByteArray(R"({"projects":{"/p/a":{"secrets":1,"secrets":1e400}}})")
        << QStringList{u"/p/a"_qs} << qint64(0) << QString();
    QTest::newRow("date: the last one stands, even when earlier")
        << QByteArray(R"({"projects":{"/p/a":{"synced":"2030-01-01T00:00:00Z",
                                              "synced":"2024-05-01T10:00:00Z"}}})")
        << QStringList{u"/p/a"_qs} << qint64(0) << may;
    QTest::newRow("date: a last one that is no date")
        << QByteArray(R"({"projects":{"/p/a":{"synced":"2024-05-01T10:00:00Z","synced":null}}})")
        << QStringList{u"/p/a"_qs} << qint64(0) << QString();
}

void TestStateJson::repeatedKeys() {
    QFETCH(QByteArray, json);
    QFETCH(QStringList, projects);
    QFETCH(qint64, secrets);
    QFETCH(QString, synced);

    const Summary summary = quillnest::summarize(json, underP);
    QCOMPARE(summary.projects, projects);
    QCOMPARE(summary.secrets, secrets);
    QCOMPARE(summary.synced ? summary.synced->toString(Qt::ISODate) : QString(), synced);
}

void TestStateJson::depth_data() {
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("valid");
    QTest::newRow("1024 levels") << 1024 << true;
    QTest::newRow("1025 levels") << 1025 << false;
}

// Arrays and objects nested as deep as QJsonDocument allows, counting the top-level object, inside
// an ignored member and inside a project's entry.
void TestStateJson::depth() {
    QFETCH(int, depth);
    QFETCH(bool, valid);

    const auto nested = [](int levels) {
        QByteArray text;
        for (int i = 0; i < levels; ++i)
            text += i % 2 ? "[" : R"({"k":)";
        text += "0";
        for (int i = levels - 1; i >= 0; --i)
            text += i % 2 ? "]" : "}";
        return text;
    };
    const QByteArray inIgnored = around(nested(depth - 1));
    const QByteArray inEntry =
        R"({"projects":{"/p/a":{"secrets":1,"x":)" + nested(depth - 3) + "}}}";
    for (const QByteArray& json : {inIgnored, inEntry}) {
        QCOMPARE(quillnest::summarize(json, underP).projects.size(), valid ? 1 : 0);
        QCOMPARE(qtAccepts(json), valid);
    }
}

void TestStateJson::counts_data() {
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<qint64>("count");

    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    QTest::newRow("18 digits") << QByteArray("999999999999999999") << qint64(999999999999999999);
    QTest::newRow("19 digits") << QByteArray("1000000000000000000") << qint64(1000000000000000000);
    QTest::newRow("largest") << QByteArray("9223372036854775807") << max;
    QTest::newRow("one past largest") << QByteArray("9223372036854775808") << qint64(0);
    QTest::newRow("smallest") << QByteArray("-9223372036854775808") << min;
    // Beyond 64 bits the literal is a double, and this one rounds to -2^63.
    QTest::newRow("one below smallest") << QByteArray("-9223372036854775809") << min;
    QTest::newRow("2^63 as a double") << QByteArray("9.223372036854775807e18") << qint64(0);
    QTest::newRow("2^62 as a double")
        << QByteArray("4.611686018427387904e18") << qint64(4611686018427387904);
    QTest::newRow("point without digits") << QByteArray("7.") << qint64(7);
    QTest::newRow("point first") << QByteArray(".5e1") << qint64(5);
    QTest::newRow("fraction") << QByteArray("0.5") << qint64(0);
    QTest::newRow("exponent with zeros") << QByteArray("1e05") << qint64(100000);
    QTest::newRow("zero with huge exponent") << QByteArray("0e400") << qint64(0);
    QTest::newRow("largest double") << QByteArray("1.7976931348623157e308") << qint64(0);
    QTest::newRow("just beyond a double") << QByteArray("1.7976931348623159e308") << qint64(0);
    QTest::newRow("subnormal") << QByteArray("5e-324") << qint64(0);
    QTest::newRow("many digits") << QByteArray("123456789012345678901234567890e-20") << qint64(0);
    QTest::newRow("many digits, integral")
        << QByteArray("1234567890123450000000000e-10") << qint64(123456789012345);
}

// Number literals at the limits count as QJsonDocument reads them: added to a second project's
// count, so that the result also shows the literal did not end the text.
void TestStateJson::counts() {
    QFETCH(QByteArray, literal);
    QFETCH(qint64, count);

    const QByteArray json =
        R"({"projects":{"/p/a":{"warn":)" + literal + R"(},"/p/b":{"warn":0}}})";
    const Summary summary = quillnest::summarize(json, underP);
    QCOMPARE(summary.projects.size(), 2);
    QCOMPARE(summary.warn, count);
}

QTEST_APPLESS_MAIN(TestStateJson)
#include "test_state_json.moc"
