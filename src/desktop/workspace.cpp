#include "desktop/workspace.h"
#include "desktop/folder_dialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>

namespace quillnest {

void DesktopWorkspace::open(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

std::optional<QString> DesktopWorkspace::chooseFolder(const QString& message) {
    QFileDialog dialog;
    setUpFolderDialog(dialog, message);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return chosen.first();
}

void setUpFolderDialog(QFileDialog& dialog, const QString& message) {
    dialog.setWindowTitle(message);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setDirectory(QDir::homePath());
}

} // namespace quillnest
