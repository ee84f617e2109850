#include "desktop/workspace.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>

namespace quillnest {

void DesktopWorkspace::open(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

std::optional<QString> DesktopWorkspace::chooseFolder(const QString& message) {
    QFileDialog dialog;
    dialog.setWindowTitle(message);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setDirectory(QDir::homePath());
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

} // namespace quillnest
