#include "tool/process_description.h"

namespace quillnest {

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
                    inherited.value(QStringLiteral("PATH")) +
                        QStringLiteral(":/usr/local/bin:/opt/homebrew/bin:/usr/bin"));
    return spec;
}

} // namespace quillnest
