// A notifier that records what it would show, for tests of the App that are not about
// notifications.
#pragma once

#include "desktop/notifier.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace quillnest::test {

struct RecordingNotifier final : Notifier {
    QList<QPair<QString, QString>> shown; // summary and body of each notification
    QStringList actions;                  // the action label of each, empty for none
    std::function<void()> lastAction;     // what choosing the latest one's action does
    void notify(NoticeKind, const QString& summary, const QString& body, const QString& action,
                std::function<void()> onAction) override {
        shown.append({summary, body});
        actions.append(action);
        lastAction = std::move(onAction);
    }
};

} // namespace quillnest::test
