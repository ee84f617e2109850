// App::refresh: the one place where the status icon, its tooltip and its menu are composed.
#include "app/app.h"

#include "menu/compose.h"
#include "menu/dot_icon.h"
#include "state/state_watch.h"
#include "state/summary.h"
#include "tool/child_process.h"
#include "tray/status_item.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QPalette>

namespace quillnest {

void App::refresh() {
    // A file rewritten in place may be read half written. While it is still changing, the summary
    // shown stays and the file is read again once it has been left alone; only a file that is
    // still no JSON document then shows as the empty summary. A missing file shows so at once.
    StateReading reading = readStateFile(setup_.settings.stateDir);
    if (reading.file == StateFile::Malformed && watch_ && watch_->changing())
        watch_->signalWhenQuiet();
    else
        summary_ = std::move(reading.summary);
    MenuInputs inputs;
    inputs.summary = summary_;

    // The icon first: it is what the user sees change, and composing the menu takes longer than
    // reading the state. A new icon is handed to the tray only when it would look different:
    // another status colour, or a palette change (light to dark) that changes the glyph. An equal
    // icon every tick would only make the panel redraw.
    const StatusColor color = statusColor(inputs.summary);
    const ShownIcon shown{color, QGuiApplication::palette().color(QPalette::WindowText).rgba(),
                          QGuiApplication::palette().color(QPalette::Window).rgba()};
    if (shownIcon_ != shown || !item->image()) {
        item->setImage(dotIcon(color));
        shownIcon_ = shown;
    }
    inputs.ru = setup_.settings.ru;
    inputs.busy = busy;
    inputs.watching = watcher && watcher->isRunning();
    inputs.now = QDateTime::currentDateTimeUtc();
    const Composition composition = compose(inputs);
    item->setToolTip(QStringLiteral("Quillnest"), composition.toolTip);
    item->setAttention(composition.attention);
    if (!item->menu() || *item->menu() != composition.menu)
        item->setMenu(composition.menu);
    tellStateChange(inputs.summary);

    Q_EMIT refreshed();
}

} // namespace quillnest
