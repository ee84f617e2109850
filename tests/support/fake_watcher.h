// A StatusNotifierWatcher of the test's own: it records the items that register with it, after
// refusing (an error reply) or leaving unanswered the registrations `answers` lists. Export it on
// a private bus under org.kde.StatusNotifierWatcher at /StatusNotifierWatcher. A test that uses
// it lists this header among its sources, so that it is run through moc.
#pragma once

#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

namespace quillnest::test {

class FakeWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    enum Answer { Refuse, Ignore };
    QStringList registered;
    QList<Answer> answers;          // to the next registrations, in turn; then each is taken
    QList<QDBusMessage> unanswered; // the registrations left without an answer
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        if (answers.isEmpty())
            registered.append(service);
        else if (answers.takeFirst() == Refuse)
            sendErrorReply(QDBusError::Failed, QStringLiteral("not now"));
        else {
            setDelayedReply(true);
            unanswered.append(message());
        }
    }
};

} // namespace quillnest::test
