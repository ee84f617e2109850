// The one way into App's fields from outside: tests and benchmarks read them, and set `busy` to
// drive a refresh, through these. Product code never includes this header.
#pragma once

#include "app/app.h"

namespace quillnest {

struct AppProbe {
    static StatusItem* item(const App* app) { return app->item; }
    static Busy& busy(App* app) { return app->busy; }
    static std::shared_ptr<ChildProcess>& watcher(App* app) { return app->watcher; }
    static QTimer* timer(App* app) { return app->timer; }
    static bool standing(const App* app) { return app->standby_.holds(); }
};

} // namespace quillnest
