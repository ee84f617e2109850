// Helpers that several test files share: writing fixture files and a fake file system for the
// state reader.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace quillnest::test {

// Writes `bytes` to `path`, replacing what was there and making missing folders on the way; a
// failure fails the calling test.
inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A stand-in for the file system's existence test: paths under /p/ exist, all others do not.
inline bool underP(const QString& path) {
    return path.startsWith(QLatin1StringView("/p/"));
}

} // namespace quillnest::test
