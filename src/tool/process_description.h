// A child process of the tool described as plain data, before anything is launched.
//
// processSpec() is a pure function of its inputs: the caller hands it the located tool, the
// inherited environment and the language.
#pragma once

#include "core/settings.h"

#include <QStringList>

namespace quillnest {

struct ProcessSpec {
    // argv[0] is the executable, "/usr/bin/env"; then the tool path, then the arguments.
    QStringList argv;
    // The child's whole environment, passed on byte for byte.
    Env env;
};

// "/usr/bin/env", tool, args...; the inherited environment with QUILLNEST_LANG ("ru" or "en") and
// PYTHONDONTWRITEBYTECODE ("1") replacing inherited values, and PATH set to the non-empty entries
// of the inherited PATH followed by /usr/local/bin, /opt/homebrew/bin and /usr/bin, without
// de-duplication. PATH never holds an empty entry, which would stand for the working directory.
ProcessSpec processSpec(const QStringList& args, const QString& tool, const Env& inherited,
                        bool ru);

} // namespace quillnest
