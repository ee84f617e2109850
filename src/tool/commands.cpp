#include "tool/commands.h"

namespace quillnest {

QString masterFilePath(const QString& project) {
    return project + QStringLiteral("/QUILLNEST.md");
}

QString conflictsFolderPath(const QString& project) {
    return project + QStringLiteral("/.quillnest/conflicts");
}

QString absoluteProjectPath(const QString& project, const QString& workingDir) {
    if (project.startsWith(u'/'))
        return project;
    return workingDir.endsWith(u'/') ? workingDir + project : workingDir + u'/' + project;
}

QStringList syncAllArgs() {
    return {QStringLiteral("sync"), QStringLiteral("--all"), QStringLiteral("-q")};
}

QStringList checkAllArgs() {
    return {QStringLiteral("check"), QStringLiteral("--all"), QStringLiteral("-q")};
}

QStringList watchArgs() {
    return {QStringLiteral("watch"), QStringLiteral("--all")};
}

QStringList addProjectArgs(const QString& folder, bool masterExists) {
    if (masterExists)
        return {QStringLiteral("sync"), folder, QStringLiteral("-q")};
    return {QStringLiteral("init"), folder, QStringLiteral("--sync")};
}

QString masterTarget(const QString& project, const std::function<bool(const QString&)>& exists) {
    const QString master = masterFilePath(project);
    return exists(master) ? master : project;
}

QStringList conflictFolders(const QStringList& projects,
                            const std::function<bool(const QString&)>& exists) {
    QStringList folders;
    for (const QString& project : projects) {
        const QString folder = conflictsFolderPath(project);
        if (exists(folder))
            folders.append(folder);
    }
    return folders;
}

QString addProjectMessage(bool ru) {
    return ru ? QStringLiteral(
                    "Выберите папку проекта. Quillnest соберёт QUILLNEST.md из её файлов "
                    "правил.")
              : QStringLiteral("Choose a project folder. Quillnest builds QUILLNEST.md from its "
                               "rules files.");
}

} // namespace quillnest
