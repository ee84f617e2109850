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

// Makes `path` the working directory for the lifetime of the object, then restores the previous
// one.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const QString& path) : previous_(QDir::currentPath()) {
        changed_ = QDir::setCurrent(path);
    }
    ~WorkingDirectory() { QDir::setCurrent(previous_); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    bool changed() const { return changed_; }

private:
    QString previous_;
    bool changed_ = false;
};

// A stand-in for the file system's existence test: paths under /p/ exist, all others do not.
inline bool underP(const QString& path) {
    return path.startsWith(QLatin1StringView("/p/"));
}

} // namespace quillnest::test
