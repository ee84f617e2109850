// Helpers for tests that run child processes: shell scripts as tools, waiting on the event loop,
// and counts of what this process holds (descriptors, threads, unreaped children, live heap), read
// from /proc and the allocator.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <QTimer>

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QN_ASAN 1
#endif
#endif

#ifdef QN_ASAN
// From the sanitizer runtime (sanitizer/allocator_interface.h, which not every compiler ships).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace quillnest::test {

// Writes an executable /bin/sh script with `body` to `path`; the path, or empty on failure.
inline QString writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

// Runs the event loop until `done` holds or the timeout passes. Wakes for every posted event (child
// completions are posted from their waiter threads) and at least every 20 ms.
template<typename Predicate> bool waitUntil(Predicate done, int timeoutMs = 30000) {
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline int openDescriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count - 1; // the directory's own descriptor
}

inline int threadCount() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

// Children of this process that have ended and not been reaped.
inline int zombieChildren() {
    int zombies = 0;
    const QByteArray self = QByteArray::number(::getpid());
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QLatin1StringView(entry->d_name)));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1] == self && fields[0] == "Z")
            ++zombies;
    }
    ::closedir(proc);
    return zombies;
}

// Live heap bytes as the allocator in use counts them.
inline qint64 liveHeap() {
#ifdef QN_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

} // namespace quillnest::test
