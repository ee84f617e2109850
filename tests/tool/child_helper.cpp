// A parent of its own for tests of ChildProcess: `child_helper [--default-sigchld] tied|own
// PROGRAM ARGS...` launches PROGRAM, prints its pid, and once it has ended prints "<kind> <code>"
// of its Outcome and exits; kill it to see what becomes of the child.
#include "tool/child_process.h"

#include <QCoreApplication>

#include <cstdio>

using namespace quillnest;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("--default-sigchld")) {
        useDefaultChildSignal();
        args.removeFirst();
    }
    const bool tied = !args.isEmpty() && args.takeFirst() == QLatin1String("tied");
    ChildProcess child;
    child.setTerminationHandler([](Outcome outcome) {
        std::printf("%d %d\n", int(outcome.kind), outcome.code);
        QCoreApplication::exit(0);
    });
    if (!child.launch({args, processEnvironment()}, tied ? Lifetime::Tied : Lifetime::Own))
        return 1;
    std::printf("%d\n", int(child.pid()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
