// A child process of the tool described as plain data, before anything is launched.
//
// processSpec() is a pure function of its inputs; toolSpec() reads the real environment, the global
// language flag and the file system. Call toolSpec() on the main thread (it reads `ru`).
#pragma once

#include "app/settings.h"

#include <QStringList>

namespace quillnest {

struct ProcessSpec {
    QStringList
        argv; // argv[0] is the executable: "/usr/bin/env", then the tool path, then the args
    Env env;  // the child's whole environment
};

// "/usr/bin/env", tool, args...; the inherited environment with QUILLNEST_LANG ("ru" or "en") and
// PYTHONDONTWRITEBYTECODE ("1") replacing inherited values, and PATH set to the inherited PATH (or
// the empty text) followed by ":/usr/local/bin:/opt/homebrew/bin:/usr/bin", without de-duplication.
ProcessSpec processSpec(const QStringList& args, const QString& tool, const Env& inherited,
                        bool ru);

// processSpec(args, cliPath(), processEnvironment(), ru): the tool located anew.
ProcessSpec toolSpec(const QStringList& args);

} // namespace quillnest
