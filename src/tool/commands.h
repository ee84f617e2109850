// The decisions of the menu commands, as pure functions that tests call with fakes.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace quillnest {

// Where a project folder keeps its master file and the copies of hand-edited master files, joined
// as plain text.
QString masterFilePath(const QString& project);      // project + "/QUILLNEST.md"
QString conflictsFolderPath(const QString& project); // project + "/.quillnest/conflicts"

// A project folder as an absolute path: `project` itself when it begins with "/", else joined to
// `workingDir` as plain text. The state file may name a project relative to the working directory,
// and what the desktop is asked to open must not depend on the desktop's working directory.
QString absoluteProjectPath(const QString& project, const QString& workingDir);

QStringList syncAllArgs();  // sync --all -q
QStringList checkAllArgs(); // check --all -q
QStringList watchArgs();    // watch --all

// "sync <folder> -q" when the folder already holds a master file, else "init <folder> --sync".
QStringList addProjectArgs(const QString& folder, bool masterExists);

// The master file of a project, or the project folder when it has none.
QString masterTarget(const QString& project, const std::function<bool(const QString&)>& exists);

// The conflicts folders that exist, in project order.
QStringList conflictFolders(const QStringList& projects,
                            const std::function<bool(const QString&)>& exists);

// The message of the folder chooser.
QString addProjectMessage(bool ru);

} // namespace quillnest
