// The folder chooser of DesktopWorkspace::chooseFolder, apart so that its texts can be checked.
#pragma once

#include <QString>

class QFileDialog;

namespace quillnest {

// Sets `dialog` up as the folder chooser showing `message`, starting in the home folder; it is not
// shown. Qt's own dialog where the platform has no native one (its texts are Qt's translations).
void setUpFolderDialog(QFileDialog& dialog, const QString& message);

} // namespace quillnest
