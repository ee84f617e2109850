// Snapshot mode: pictures of the installed menu and of its project submenu, then quit.
#include "app/app.h"

#include "app/snapshot_mode.h"
#include "snapshot/snapshot.h"
#include "tray/status_item.h"

#include <QCoreApplication>

namespace quillnest {

// "/tmp/m.png" gives "/tmp/m-projects.png"; every ".png" is replaced, so a path without one gives
// the same path and the projects picture replaces the menu picture.
QString projectsPicturePath(const QString& path) {
    QString projects = path;
    projects.replace(QStringLiteral(".png"), QStringLiteral("-projects.png"));
    return projects;
}

bool App::runSnapshotMode() {
    if (!setup_.settings.snapshotPath || !item->menu() || !item->image())
        return false;
    const QString path = *setup_.settings.snapshotPath;
    const bool dark = setup_.settings.snapshotDark;
    const Menu& menu = *item->menu();
    const QIcon icon = *item->image();

    snapshot(menu, icon, path, dark);
    for (const MenuItem& entry : menu) {
        if (entry.hasSubmenu) {
            snapshot(entry.submenu, icon, projectsPicturePath(path), false);
            break;
        }
    }
    QCoreApplication::quit();
    return true;
}

} // namespace quillnest
