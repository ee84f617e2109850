// App::refresh: the one place where the status icon, its tooltip and its menu are composed.
#include "app/app.h"

#include "app/settings.h"
#include "menu/compose.h"
#include "menu/dot_icon.h"
#include "platform/status_item.h"
#include "state/summary.h"
#include "tool/child_process.h"

#include <QDateTime>

namespace quillnest {

void App::refresh() {
    MenuInputs inputs;
    inputs.summary = readState();
    inputs.ru = ru;
    inputs.busy = busy;
    inputs.watching = watcher && watcher->isRunning();
    inputs.now = QDateTime::currentDateTimeUtc();
    const Composition composition = compose(inputs);

    // The icon paints itself from its colour at draw time, so a new one is only needed when the
    // colour changes; handing the tray an equal icon every tick would only make the panel redraw.
    if (shownColor_ != composition.color || !item->image()) {
        item->setImage(dotIcon(composition.color));
        shownColor_ = composition.color;
    }
    item->setToolTip(QStringLiteral("Quillnest"));
    if (!item->menu() || *item->menu() != composition.menu)
        item->setMenu(composition.menu);

    Q_EMIT refreshed();
}

} // namespace quillnest
