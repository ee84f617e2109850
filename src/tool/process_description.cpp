#include "tool/process_description.h"

namespace quillnest {

namespace {

// The inherited search path without its empty entries, each of which would name the working
// directory, followed by the folders the tool is commonly installed in.
QByteArray childSearchPath(const QByteArray& inherited) {
    QByteArrayList entries;
    for (const QByteArray& entry : inherited.split(':'))
        if (!entry.isEmpty())
            entries << entry;
    entries << "/usr/local/bin"
            << "/opt/homebrew/bin"
            << "/usr/bin";
    return entries.join(':');
}

} // namespace

ProcessSpec processSpec(const QStringList& args, const QString& tool, const Env& inherited,
                        bool ru) {
    ProcessSpec spec;
    spec.argv.reserve(args.size() + 2);
    spec.argv << QStringLiteral("/usr/bin/env") << tool << args;

    spec.env = inherited;
    spec.env.insert("QUILLNEST_LANG", ru ? "ru" : "en");
    spec.env.insert("PYTHONDONTWRITEBYTECODE", "1");
    spec.env.insert("PATH", childSearchPath(inherited.value("PATH")));
    return spec;
}

} // namespace quillnest
