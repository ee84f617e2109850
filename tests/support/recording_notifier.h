// A notifier that records what it would show, for tests of the App that are not about
// notifications.
#pragma once

#include "desktop/notifier.h"

#include <QList>
#include <QPair>
#include <QString>

namespace quillnest::test {

struct RecordingNotifier final : Notifier {
    QList<QPair<QString, QString>> shown; // summary and body of each notification
    void notify(const QString& summary, const QString& body) override {
        shown.append({summary, body});
    }
};

} // namespace quillnest::test
