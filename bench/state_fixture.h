// What the state benchmarks share: a state directory with real project folders, and the floor every
// reader of it must pay (the file's bytes and one stat per project path).
//
// Benchmarks run on one thread; fixtures live until the program ends.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillnest::bench {

// A state directory with `count` real project folders, each with counts and both dates.
struct StateFixture {
    QTemporaryDir temp;
    std::vector<QByteArray> paths; // encoded, as the floor hands them to stat
    QByteArray stateFile;

    explicit StateFixture(int count) {
        if (!temp.isValid())
            std::abort();
        const QString projects = temp.filePath(QStringLiteral("code/projects"));
        QDir().mkpath(projects);
        QByteArray json = "{\n  \"version\": 1,\n  \"projects\": {\n";
        for (int i = 0; i < count; ++i) {
            const QString path = projects + QString::asprintf("/project-%05d", i);
            QDir().mkdir(path);
            paths.push_back(QFile::encodeName(path));
            json += "    \"" + paths.back() + "\": {";
            json += "\"secrets\": " + QByteArray::number(i % 3 == 0 ? 1 : 0);
            json += ", \"warn\": " + QByteArray::number(i % 5);
            json += ", \"conflicts\": " + QByteArray::number(i % 7 == 0 ? 1 : 0);
            json += QByteArray(", \"synced\": \"2024-05-") + QByteArray::number(10 + i % 20) +
                    "T10:" + QByteArray::number(10 + i % 50) + ":00Z\"";
            json += ", \"checked\": \"2024-06-01T08:" + QByteArray::number(10 + i % 50) +
                    ":00+02:00\"}";
            json += i + 1 < count ? ",\n" : "\n";
        }
        json += "  }\n}\n";
        stateFile = QFile::encodeName(temp.filePath(QStringLiteral("state.json")));
        QFile file(temp.filePath(QStringLiteral("state.json")));
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
            std::abort();
    }
};

// One fixture per size, made on first use.
inline StateFixture& stateFixture(int count) {
    static std::map<int, std::unique_ptr<StateFixture>> fixtures;
    std::unique_ptr<StateFixture>& slot = fixtures[count];
    if (!slot)
        slot = std::make_unique<StateFixture>(count);
    return *slot;
}

inline QByteArray readBytes(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0)
        std::abort();
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    if (::read(fd, bytes.data(), size_t(bytes.size())) != ssize_t(bytes.size()))
        std::abort();
    ::close(fd);
    return bytes;
}

// The stat half of the floor: how many of the fixture's project paths exist.
inline int existingProjects(const StateFixture& f) {
    int existing = 0;
    for (const QByteArray& path : f.paths) {
        struct stat info;
        existing += ::stat(path.constData(), &info) == 0;
    }
    return existing;
}

} // namespace quillnest::bench
