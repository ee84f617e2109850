// App::tellStateChange: the notices of secrets and conflicts that appear while the utility runs.
#include "app/app.h"

#include "state/summary.h"
#include "tool/notices.h"

#include <QLoggingCategory>
#include <QPointer>

#include <utility>

namespace quillnest {

Q_DECLARE_LOGGING_CATEGORY(lcApp)

// The first reading is the state the user logs in to, shown by the dot and the tooltip: it is
// told nothing. The empty summary (no state file, or one unreadable while it is rewritten) says
// nothing about secrets or conflicts, so it neither clears what was seen nor is taken for a clean
// state: a file that flaps between torn and whole tells nothing more. Whoever wrote the state, the
// watch process or a sync the user started, a change into secrets is told the same.
void App::tellStateChange(const Summary& summary) {
    if (stateSeen_ && summary == Summary())
        return;
    const std::optional<Summary> before = std::exchange(stateSeen_, summary);
    if (!before || quitting_)
        return;
    for (const StateNotice& told : stateNotices(*before, summary, setup_.settings.ru)) {
        qCInfo(lcApp) << told.notice.summary << told.notice.body;
        QPointer<App> self(this);
        const bool secrets = told.alarm == StateAlarm::Secrets;
        const QString project = told.project;
        setup_.notifier->notify(secrets ? NoticeKind::Secrets : NoticeKind::Conflicts,
                                told.notice.summary, told.notice.body, told.notice.action,
                                [self, secrets, project] {
                                    if (!self || self->quitting_)
                                        return;
                                    secrets ? self->openMaster(project) : self->openConflicts();
                                });
    }
}

} // namespace quillnest
