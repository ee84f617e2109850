#include "tool/process_description.h"

namespace quillnest {

namespace {

// The inherited search path without its empty entries, each of which would name the working
// directory, followed by the folders the tool is commonly installed in.
QString childSearchPath(const QString& inherited) {
    QStringList entries = inherited.split(u':', Qt::SkipEmptyParts);
    entries << QStringLiteral("/usr/local/bin") << QStringLiteral("/opt/homebrew/bin")
            << QStringLiteral("/usr/bin");
    return entries.join(u':');
}

} // namespace

ProcessSpec processSpec(const QStringList& args, const QString& tool, const Env& inherited,
                        bool ru) {
    ProcessSpec spec;
    spec.argv.reserve(args.size() + 2);
    spec.argv << QStringLiteral("/usr/bin/env") << tool << args;

    spec.env = inherited;
    spec.env.insert(QStringLiteral("QUILLNEST_LANG"),
                    ru ? QStringLiteral("ru") : QStringLiteral("en"));
    spec.env.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    spec.env.insert(QStringLiteral("PATH"),
                    childSearchPath(inherited.value(QStringLiteral("PATH"))));
    return spec;
}

} // namespace quillnest
