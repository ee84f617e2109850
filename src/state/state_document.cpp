#include "state/state_document.h"

#include "state/rfc3339.h"

#include <QByteArray>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace quillnest {
namespace {

// QJsonDocument refuses texts nested deeper than this, counting the top-level value.
constexpr int maxDepth = 1024;

// Dates longer than this are not in RFC 3339 form; they are not decoded.
constexpr int maxDateUnits = 64;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The length of the well-formed UTF-8 sequence at `p` that starts with a byte of 0x80 or more
// (overlong forms, surrogates and values beyond U+10FFFF are not), or 0.
int utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char b = p[0];
    int length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return length;
}

// The content of a string in the text, between its quotes, already checked.
struct RawString {
    const char* begin = nullptr;
    const char* end = nullptr;
    bool plain = true;    // no escapes and no bytes beyond ASCII: the bytes are the UTF-16 units
    bool escaped = false; // holds a backslash

    // Whether the string starts with a byte order mark that QJsonDocument drops where it hands the
    // string out as a QString: it keeps a string without escapes as UTF-8 and converts it with
    // QString::fromUtf8, which drops such a mark. Where it compares the string with another, as
    // for lookups and repeated keys, the mark counts.
    bool startsWithDroppedMark() const {
        return !escaped && end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0;
    }

    // Decodes into `out` (push(char16_t) -> bool, false when full), without the byte order mark
    // QJsonDocument drops when `asQString`. Returns false when `out` was full.
    template<typename Out> bool decode(Out& out, bool asQString) const {
        const auto* p = reinterpret_cast<const unsigned char*>(begin);
        const auto* const stop = reinterpret_cast<const unsigned char*>(end);
        if (asQString && startsWithDroppedMark())
            p += 3;
        while (p < stop) {
            const unsigned char c = *p;
            if (c == '\\') {
                const unsigned char e = p[1];
                p += 2;
                char16_t unit = e;
                switch (e) {
                case 'b':
                    unit = u'\b';
                    break;
                case 'f':
                    unit = u'\f';
                    break;
                case 'n':
                    unit = u'\n';
                    break;
                case 'r':
                    unit = u'\r';
                    break;
                case 't':
                    unit = u'\t';
                    break;
                case 'u':
                    unit = char16_t(hexValue(char(p[0])) << 12 | hexValue(char(p[1])) << 8 |
                                    hexValue(char(p[2])) << 4 | hexValue(char(p[3])));
                    p += 4;
                    break;
                default:
                    break; // any other byte stands for itself, as a Latin-1 character
                }
                if (!out.push(unit))
                    return false;
            } else if (c < 0x80) {
                if (!out.push(c))
                    return false;
                ++p;
            } else {
                const int length = utf8SequenceLength(p, stop);
                char32_t point = c & (0x7F >> length);
                for (int i = 1; i < length; ++i)
                    point = point << 6 | (p[i] & 0x3F);
                p += length;
                if (point >= 0x10000) {
                    if (!out.push(char16_t(0xD7C0 + (point >> 10))) ||
                        !out.push(char16_t(0xDC00 | (point & 0x3FF))))
                        return false;
                } else if (!out.push(char16_t(point))) {
                    return false;
                }
            }
        }
        return true;
    }

    QString toString(bool asQString) const {
        if (plain)
            return QString::fromLatin1(begin, end - begin);
        struct Sink {
            QString text;
            bool push(char16_t unit) {
                text.append(QChar(unit));
                return true;
            }
        } sink;
        sink.text.reserve(end - begin);
        decode(sink, asQString);
        return std::move(sink.text);
    }

    // Whether the string is `name` (ASCII) as QJsonObject looks keys up.
    bool is(std::string_view name) const {
        if (plain)
            return std::string_view(begin, size_t(end - begin)) == name;
        struct Matcher {
            std::string_view name;
            size_t used = 0;
            bool push(char16_t unit) {
                return used < name.size() && unit == char16_t(name[used++]);
            }
        } matcher{name};
        return decode(matcher, false) && matcher.used == name.size();
    }
};

// The reader proper: a cursor over the text that checks every value it passes and materialises
// only the members of "projects".
class Parser {
public:
    Parser(const char* begin, const char* end) : p_(begin), end_(end) {}

    // Reads the whole text; false on any error.
    bool document() {
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0)
            p_ += 3;
        skipSpace();
        if (p_ == end_ || *p_ != '{')
            return false; // a top level other than an object has no projects
        if (!enter())
            return false;
        if (!consumeClose('}')) {
            do {
                RawString key;
                if (!memberKey(key))
                    return false;
                if (key.is("projects") ? !projects() : !skipValue())
                    return false;
            } while (afterMember());
            if (failed_)
                return false;
        }
        skipSpace();
        return p_ == end_;
    }

    bool projectsIsObject = false;
    std::vector<StateEntry> entries;

private:
    const char* p_;
    const char* const end_;
    int depth_ = 0;
    bool failed_ = false; // set by afterMember when it stops on an error

    void skipSpace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t'))
            ++p_;
    }

    // Consumes the opening bracket at p_ and the space after it.
    bool enter() {
        if (++depth_ > maxDepth)
            return false;
        ++p_;
        skipSpace();
        return true;
    }

    // Consumes `close` when it is next (the container is empty).
    bool consumeClose(char close) {
        if (p_ < end_ && *p_ == close) {
            ++p_;
            --depth_;
            return true;
        }
        return false;
    }

    // After a member of an object: true when a comma follows (and was consumed with the space
    // after it), false at the closing brace or, with failed_ set, on anything else.
    bool afterMember() {
        skipSpace();
        if (p_ < end_ && *p_ == ',') {
            ++p_;
            skipSpace();
            return true;
        }
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            --depth_;
            return false;
        }
        failed_ = true;
        return false;
    }

    // A key, the colon and the space up to the value.
    bool memberKey(RawString& key) {
        if (p_ == end_ || *p_ != '"' || !string(key))
            return false;
        skipSpace();
        if (p_ == end_ || *p_ != ':')
            return false;
        ++p_;
        skipSpace();
        return true;
    }

    // The string whose opening quote is at p_.
    bool string(RawString& s) {
        const char* q = p_ + 1;
        s.begin = q;
        s.plain = true;
        s.escaped = false;
        for (;;) {
            while (q < end_ && *q != '"' && *q != '\\' && static_cast<unsigned char>(*q) < 0x80)
                ++q;
            if (q == end_)
                return false;
            if (*q == '"')
                break;
            s.plain = false;
            if (*q == '\\') {
                s.escaped = true;
                if (++q == end_)
                    return false;
                if (*q == 'u') {
                    if (end_ - q < 5)
                        return false;
                    for (int i = 1; i <= 4; ++i)
                        if (hexValue(q[i]) < 0)
                            return false;
                    q += 5;
                } else {
                    ++q; // any byte, even beyond ASCII, stands for itself
                }
            } else {
                const int length = utf8SequenceLength(reinterpret_cast<const unsigned char*>(q),
                                                      reinterpret_cast<const unsigned char*>(end_));
                if (length == 0)
                    return false;
                q += length;
            }
        }
        s.end = q;
        p_ = q + 1;
        return true;
    }

    bool literal(std::string_view word) {
        if (size_t(end_ - p_) < word.size() || std::memcmp(p_, word.data(), word.size()) != 0)
            return false;
        p_ += word.size();
        return true;
    }

    // The number at p_, in QJsonDocument's syntax: an optional minus, "0" or any run of digits
    // (even none), an optional fraction with any run of digits, an optional exponent likewise;
    // whatever QByteArray::toLongLong or toDouble then refuses is an error, except a value
    // beyond the range of a double. `count` receives the count it stands for, if asked.
    bool number(std::int64_t* count) {
        const char* const start = p_;
        const char* q = p_;
        const bool negative = q < end_ && *q == '-';
        if (negative)
            ++q;
        const char* const digits = q;
        if (q < end_ && *q == '0')
            ++q;
        else
            while (q < end_ && isDigit(*q))
                ++q;
        const char* const digitsEnd = q;
        bool integer = true;
        if (q < end_ && *q == '.') {
            integer = false;
            for (++q; q < end_ && isDigit(*q);)
                ++q;
        }
        if (q < end_ && (*q == 'e' || *q == 'E')) {
            integer = false;
            ++q;
            if (q < end_ && (*q == '+' || *q == '-'))
                ++q;
            while (q < end_ && isDigit(*q))
                ++q;
        }
        if (q == end_)
            return false; // a number never ends a valid document
        p_ = q;

        // Up to 18 digits always fit: the common case, read here.
        const qsizetype length = digitsEnd - digits;
        if (integer && length >= 1 && length <= 18) {
            if (count) {
                std::int64_t value = 0;
                for (const char* d = digits; d < digitsEnd; ++d)
                    value = value * 10 + (*d - '0');
                *count = negative ? -value : value;
            }
            return true;
        }
        const QByteArray text = QByteArray::fromRawData(start, q - start);
        bool ok = false;
        if (integer) {
            const qlonglong value = text.toLongLong(&ok);
            if (ok) {
                if (count)
                    *count = value;
                return true;
            }
        }
        const double value = text.toDouble(&ok);
        if (ok) {
            if (count)
                *count = value >= -0x1p63 && value < 0x1p63 && value == std::trunc(value)
                             ? std::int64_t(value)
                             : 0;
            return true;
        }
        // Well-formed but beyond the range of a double: stands for no count.
        double ignored;
        const std::from_chars_result r = std::from_chars(start, q, ignored);
        if (r.ec == std::errc::result_out_of_range && r.ptr == q) {
            if (count)
                *count = 0;
            return true;
        }
        return false;
    }

    // A value that is not an array or object.
    bool scalar() {
        switch (*p_) {
        case '"': {
            RawString ignored;
            return string(ignored);
        }
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        case '-':
        case '.':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            return number(nullptr);
        default:
            return false;
        }
    }

    // Checks and passes the value at p_, however deeply nested, without recursion.
    bool skipValue() {
        std::array<char, maxDepth> closers; // what each open container inside this value awaits
        int open = 0;
        for (;;) {
            if (p_ == end_)
                return false;
            // A value is next.
            const char c = *p_;
            if (c == '{' || c == '[') {
                const char close = c == '{' ? '}' : ']';
                if (!enter())
                    return false;
                if (!consumeClose(close)) {
                    closers[size_t(open++)] = close;
                    RawString ignored;
                    if (close == '}' && !memberKey(ignored))
                        return false;
                    continue;
                }
            } else if (!scalar()) {
                return false;
            }
            // After a value: close containers until one goes on.
            for (;;) {
                if (open == 0)
                    return true;
                skipSpace();
                if (p_ == end_)
                    return false;
                const char close = closers[size_t(open - 1)];
                if (*p_ == ',') {
                    ++p_;
                    skipSpace();
                    RawString ignored;
                    if (close == '}' && !memberKey(ignored))
                        return false;
                    break;
                }
                if (*p_ != close)
                    return false;
                ++p_;
                --depth_;
                --open;
            }
        }
    }

    // The value of a "projects" member; a later one replaces what an earlier one gave.
    bool projects() {
        entries.clear();
        projectsIsObject = p_ < end_ && *p_ == '{';
        if (!projectsIsObject)
            return skipValue();
        if (!enter())
            return false;
        if (consumeClose('}'))
            return true;
        do {
            RawString key;
            if (!memberKey(key))
                return false;
            StateEntry& entry = entries.emplace_back();
            entry.key = key.toString(true);
            if (key.startsWithDroppedMark())
                entry.identity = key.toString(false);
            if (p_ < end_ && *p_ == '{') {
                entry.isObject = true;
                if (!project(entry))
                    return false;
            } else if (!skipValue()) {
                return false;
            }
        } while (afterMember());
        return !failed_;
    }

    // The object of one project.
    bool project(StateEntry& entry) {
        if (!enter())
            return false;
        if (consumeClose('}'))
            return true;
        do {
            RawString key;
            if (!memberKey(key))
                return false;
            if (p_ == end_)
                return false;
            std::int64_t* count = nullptr;
            std::optional<std::int64_t>* date = nullptr;
            if (key.is("secrets"))
                count = &entry.secrets;
            else if (key.is("warn"))
                count = &entry.warn;
            else if (key.is("conflicts"))
                count = &entry.conflicts;
            else if (key.is("synced"))
                date = &entry.synced;
            else if (key.is("checked"))
                date = &entry.checked;

            const char c = *p_;
            if (count && (c == '-' || c == '.' || isDigit(c))) {
                if (!number(count))
                    return false;
            } else if (date && c == '"') {
                RawString text;
                if (!string(text))
                    return false;
                *date = dateOf(text);
            } else {
                if (count)
                    *count = 0;
                if (date)
                    date->reset();
                if (!skipValue())
                    return false;
            }
        } while (afterMember());
        return !failed_;
    }

    static std::optional<std::int64_t> dateOf(const RawString& text) {
        struct Buffer {
            std::array<char16_t, maxDateUnits> units;
            int used = 0;
            bool push(char16_t unit) {
                if (used == maxDateUnits)
                    return false;
                units[size_t(used++)] = unit;
                return true;
            }
        } buffer;
        if (!text.decode(buffer, true))
            return std::nullopt;
        return parseRfc3339Seconds(QStringView(buffer.units.data(), buffer.used));
    }
};

} // namespace

std::optional<std::vector<StateEntry>> readStateEntries(QByteArrayView json, bool* valid) {
    Parser parser(json.data(), json.data() + json.size());
    const bool document = parser.document();
    if (valid)
        *valid = document;
    if (!document || !parser.projectsIsObject)
        return std::nullopt;
    return std::move(parser.entries);
}

} // namespace quillnest
