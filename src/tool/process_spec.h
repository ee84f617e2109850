// A child process of the tool described as plain data, before anything is launched.
#pragma once

#include "app/settings.h"

#include <QStringList>

namespace quillnest {

struct ProcessSpec {
    QStringList argv;  // argv[0] is the executable: "/usr/bin/env", then the tool path, then the args
    Env env;
};

// "/usr/bin/env", tool, args...; the inherited environment with QUILLNEST_LANG, PYTHONDONTWRITEBYTECODE
// and an extended PATH.
ProcessSpec processSpec(const QStringList& args, const QString& tool, const Env& inherited, bool ru);

} // namespace quillnest
