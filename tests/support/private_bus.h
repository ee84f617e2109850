// A session bus of the test's own: dbus-daemon started as a child of the test (and ended with
// it), its address put into DBUS_SESSION_BUS_ADDRESS so that the code under test finds it.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <csignal>

#include <sys/prctl.h>

namespace quillnest::test {

class PrivateBus {
public:
    PrivateBus() = default;
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    ~PrivateBus() {
        daemon_.terminate();
        daemon_.waitForFinished();
    }

    // The bus's address, or nothing when dbus-daemon is missing or does not start.
    QString start() {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (program.isEmpty())
            return {};
        daemon_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon_.start(program, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address")});
        if (!daemon_.waitForStarted())
            return {};
        while (!daemon_.canReadLine()) {
            if (!daemon_.waitForReadyRead())
                return {};
        }
        const QByteArray address = daemon_.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        return QString::fromUtf8(address);
    }

private:
    QProcess daemon_;
};

} // namespace quillnest::test
