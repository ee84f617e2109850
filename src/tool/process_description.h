// A child process of the tool described as plain data, before anything is launched.
//
// processSpec() is a pure function of its inputs: the caller hands it the located tool, the
// inherited environment and the language.
#pragma once

#include "core/settings.h"

#include <QStringList>

namespace quillnest {

struct ProcessSpec {
    // argv[0] is the executable, a path that is not searched for; then its arguments.
    QStringList argv;
    // The child's whole environment, passed on byte for byte.
    Env env;
};

// A tool path (any text holding a slash, relative ones taken against the working directory) is the
// executable itself: tool, args... ("./" put in front of a relative one beginning with "-", which
// a script's interpreter would take for an option). A bare name is looked up along the child's PATH
// by
// "/usr/bin/env", name, args...; a name that env would take for something else (empty, beginning
// with "-", holding "=") gives an empty argv, which nothing launches. The environment is the
// inherited one with QUILLNEST_LANG ("ru" or "en") and PYTHONDONTWRITEBYTECODE ("1") replacing
// inherited values, and PATH set to the non-empty entries of the inherited PATH followed by
// /usr/local/bin, /opt/homebrew/bin and /usr/bin, without de-duplication. PATH never holds an
// empty entry, which would stand for the working directory.
ProcessSpec processSpec(const QStringList& args, const QString& tool, const Env& inherited,
                        bool ru);

} // namespace quillnest
