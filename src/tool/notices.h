// What the user is told when a run of the tool went wrong, or when the tool has found secrets or
// conflicts: the texts of desktop notifications, in English or Russian. Pure: the same inputs give
// the same text.
#pragma once

#include "state/summary.h"
#include "tool/outcome.h"

#include <QString>

#include <optional>
#include <vector>

namespace quillnest {

// The commands whose failures are told.
enum class ToolCommand { Sync, Check, AddProject, Watch };

struct Notice {
    QString summary; // one line
    QString body;    // plain text
    // The label of the notice's one button (running the command again, or the title of the menu
    // item that leads to what was found); empty for none.
    QString action;
    bool operator==(const Notice&) const = default;
};

struct NoticeInputs {
    ToolCommand command = ToolCommand::Sync;
    Outcome outcome;
    QString tool;        // the path the tool search gave, or the bare name it falls back to
    QString resourceDir; // where the pointer file "cli" is looked for
    QString home;
    bool ru = false;
};

// Nothing when the run succeeded. A tool that was not found (the bare name, and env reporting
// that no such command exists, or a launch that failed for a path) is told with the places it
// was looked for and how to point the utility at it; any other failure names the exit status or
// the signal. A watch that ended by itself is told even with status 0, since it should run until
// it is switched off; the caller asks only for such ends. A failed sync or check offers to run it
// again, unless the tool was not found (it would not be found again).
std::optional<Notice> failureNotice(const NoticeInputs& in);

// What a change of the state may be told for.
enum class StateAlarm { Secrets, Conflicts };

struct StateNotice {
    StateAlarm alarm = StateAlarm::Secrets;
    Notice notice;   // offers the menu's master-file or conflicts item as its action
    QString project; // the first project concerned: the one whose master file the action opens
    bool operator==(const StateNotice&) const = default;
};

// What appeared from `before` to `now`: secrets when `now` counts 1 or more in total and `before`
// counted none, likewise conflicts (both may come at once, secrets first). Nothing for warnings,
// for counts that only changed, or for counts that went. Each notice names the projects concerned
// (`withSecrets` or `withConflicts`: at most three by the menu's titles, then how many more), how
// many there are and the total, with the plural forms of the language.
std::vector<StateNotice> stateNotices(const Summary& before, const Summary& now, bool ru);

} // namespace quillnest
