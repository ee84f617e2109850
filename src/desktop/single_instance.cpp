#include "desktop/single_instance.h"
#include "core/session_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillnest {

namespace {

Q_LOGGING_CATEGORY(lcGuard, "quillnest.guard")

enum class Claim { Owned, Taken, Unavailable };

// The bus's answer to RequestName without queueing is atomic: of two starts at the same moment,
// one becomes the primary owner and the other is told the name exists.
Claim claimBusName() {
    if (!sessionBusReachable())
        return Claim::Unavailable;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Claim::Unavailable;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(QString::fromLatin1(singleInstanceBusName),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return Claim::Unavailable;
    return reply.value() == QDBusConnectionInterface::ServiceRegistered ? Claim::Owned
                                                                        : Claim::Taken;
}

// The runtime directory, opened, when it can hold the lock safely: a folder owned by this user with
// no access for anyone else (mode 0700), as the base-directory rules demand and Qt checks. In a
// folder that others can write to, another user could hold the lock, or put a file of theirs in its
// place, and so keep the utility from starting; there it runs unguarded. Checked on the opened
// folder, so a folder swapped after the check is not the one used.
int openRuntimeDirectory(const QString& runtimeDir) {
    if (runtimeDir.isEmpty()) {
        qCWarning(lcGuard, "XDG_RUNTIME_DIR is not set: running without a one-instance lock");
        return -1;
    }
    const int dir =
        ::open(QFile::encodeName(runtimeDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (dir < 0 || ::fstat(dir, &info) != 0) {
        qCWarning(lcGuard,
                  "cannot open the runtime directory %s (%s): running without a "
                  "one-instance lock",
                  qUtf8Printable(runtimeDir), std::strerror(errno));
    } else if (info.st_uid != ::geteuid() || (info.st_mode & 07777) != 0700) {
        qCWarning(lcGuard,
                  "the runtime directory %s is owned by uid %u with mode %04o, not by uid "
                  "%u with mode 0700: running without a one-instance lock",
                  qUtf8Printable(runtimeDir), unsigned(info.st_uid), unsigned(info.st_mode & 07777),
                  unsigned(::geteuid()));
    } else {
        return dir;
    }
    if (dir >= 0)
        ::close(dir);
    return -1;
}

// The descriptor stays open, and so locked, for the life of the process. O_CLOEXEC keeps it out of
// the children (the watch process, the tool's runs): a lock one of them inherited would outlive a
// crashed utility and block its next start. O_NOFOLLOW refuses a symbolic link planted at the name,
// O_NONBLOCK a FIFO; only a regular file is locked.
Claim claimLockFile() {
    const int dir = openRuntimeDirectory(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    if (dir < 0)
        return Claim::Unavailable;
    const int fd = ::openat(dir, singleInstanceLockName,
                            O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    ::close(dir);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        qCWarning(lcGuard,
                  "cannot use %s in the runtime directory (%s): running without a "
                  "one-instance lock",
                  singleInstanceLockName, fd < 0 ? std::strerror(errno) : "not a regular file");
        if (fd >= 0)
            ::close(fd);
        return Claim::Unavailable;
    }
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result == 0)
        return Claim::Owned;
    const bool taken = errno == EWOULDBLOCK;
    ::close(fd);
    return taken ? Claim::Taken : Claim::Unavailable;
}

} // namespace

// The bus when there is one; the lock file otherwise. A guard that cannot be set up lets the
// utility run: a missing guard costs at worst a second icon, a wrong refusal the only one.
static bool claimSingleInstance() {
    const Claim bus = claimBusName();
    if (bus != Claim::Unavailable)
        return bus == Claim::Owned;
    return claimLockFile() != Claim::Taken;
}

bool leaveIfAlreadyRunning(bool ru) {
    if (claimSingleInstance())
        return false;
    std::fputs(ru ? "quillnest-bar уже запущен; второй не запускается.\n"
                  : "quillnest-bar is already running; not starting a second one.\n",
               stderr);
    return true;
}

} // namespace quillnest
