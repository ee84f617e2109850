#include "desktop/single_instance.h"
#include "core/session_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QFile>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quillnest {

namespace {

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

// The descriptor stays open, and so locked, for the life of the process. O_CLOEXEC keeps it out of
// the children (the watch process, the tool's runs): a lock one of them inherited would outlive a
// crashed utility and block its next start. O_NOFOLLOW refuses a symbolic link planted at the name.
Claim claimLockFile() {
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty())
        return Claim::Unavailable;
    const QString path = runtimeDir + QLatin1Char('/') + QLatin1String(singleInstanceLockName);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Claim::Unavailable;
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
