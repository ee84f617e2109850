// What the user is told when a run of the tool went wrong: the texts of desktop notifications, in
// English or Russian. Pure: the same inputs give the same text.
#pragma once

#include "tool/outcome.h"

#include <QString>

#include <optional>

namespace quillnest {

// The commands whose failures are told.
enum class ToolCommand { Sync, Check, AddProject, Watch };

struct Notice {
    QString summary; // one line
    QString body;    // plain text
    // The label of a button that runs the command again; empty for none.
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

} // namespace quillnest
