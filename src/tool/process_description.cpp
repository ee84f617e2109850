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
    for (const char* folder : {"/usr/local/bin", "/opt/homebrew/bin", "/usr/bin"})
        entries << folder;
    return entries.join(':');
}

// env reads an argument holding "=" as a variable to set and one beginning with "-" as an option,
// and then runs whatever follows instead: a path is therefore never handed to it, and a bare name
// only when env can take it for nothing but the command. A script's interpreter is handed the
// script's path as its first argument, so a relative path beginning with "-" is given "./".
QStringList commandLine(const QString& tool, const QStringList& args) {
    if (tool.contains(u'/'))
        return QStringList{tool.startsWith(u'-') ? QStringLiteral("./") + tool : tool} + args;
    if (tool.isEmpty() || tool.startsWith(u'-') || tool.contains(u'='))
        return {};
    return QStringList{QStringLiteral("/usr/bin/env"), tool} + args;
}

} // namespace

ProcessSpec processSpec(const QStringList& args, const QString& tool, const Env& inherited,
                        bool ru) {
    ProcessSpec spec;
    spec.argv = commandLine(tool, args);
    spec.env = inherited;
    spec.env.insert("QUILLNEST_LANG", ru ? "ru" : "en");
    spec.env.insert("PYTHONDONTWRITEBYTECODE", "1");
    spec.env.insert("PATH", childSearchPath(inherited.value("PATH")));
    return spec;
}

} // namespace quillnest
