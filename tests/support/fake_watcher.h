// A StatusNotifierWatcher of the test's own: it records the items that register with it. Export it
// on a private bus under org.kde.StatusNotifierWatcher at /StatusNotifierWatcher. A test that uses
// it lists this header among its sources, so that it is run through moc.
#pragma once

#include <QObject>
#include <QStringList>

namespace quillnest::test {

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList registered;
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { registered.append(service); }
};

} // namespace quillnest::test
