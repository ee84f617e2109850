// One kind of panel that can show the status item: the backends StatusItem chooses between.
//
// A backend shows what it is given, as soon as it is given it, and keeps nothing else: the image,
// the tooltip and the menu description live in StatusItem, which hands all of them to a new backend
// when it switches. Main thread only.
#pragma once

#include "menu/menu_model.h"

#include <QIcon>
#include <QString>

namespace quillnest {

class TrayBackend {
public:
    virtual ~TrayBackend() = default;

    virtual void setImage(const QIcon& image) = 0;
    // `title` first, `text` (any number of lines) below it.
    virtual void setToolTip(const QString& title, const QString& text) = 0;
    // Whether the state wants the user's attention (secrets found).
    virtual void setAttention(bool attention) = 0;
    // The menu the panel draws itself; a backend whose panel shows our QMenu ignores it.
    virtual void setMenu(const Menu& menu) = 0;
};

} // namespace quillnest
