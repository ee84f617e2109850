#include "desktop/quit_on_signal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace quillnest {

namespace {

int wakeFd = -1; // the pipe's write end; written from the signal handler only

extern "C" void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &byte, 1);
    errno = saved;
}

// A pipe with both ends non-blocking and closed on exec. macOS has no pipe2(), so there the flags
// are set after the pipe is made.
bool openWakePipe(std::array<int, 2>& fds) {
#ifdef __APPLE__
    if (::pipe(fds.data()) != 0)
        return false;
    for (const int fd : fds) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 ||
            ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
    }
    return true;
#else
    return ::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) == 0;
#endif
}

} // namespace

void quitOnTerminationSignals() {
    if (wakeFd >= 0)
        return;
    std::array<int, 2> fds{};
    if (!openWakePipe(fds))
        return;
    wakeFd = fds[1];

    auto* notifier =
        new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [readFd = fds[0]] {
        char buffer[64];
        while (::read(readFd, buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::quit();
    });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace quillnest
