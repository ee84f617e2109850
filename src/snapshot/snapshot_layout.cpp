#include "snapshot/snapshot_layout.h"

namespace quillnest {

namespace {

constexpr qreal kWidth = 330;
constexpr qreal kFirstRowTop = 40;
constexpr qreal kBottomMargin = 12; // below the last row: 8 of panel and 4 of backdrop
constexpr qreal kSeparatorHeight = 11;
constexpr qreal kItemHeight = 24;
constexpr qreal kRightColumnX = kWidth - 44;
constexpr qreal kTextOffset = 3; // from a row's top to its text origin

QString rightColumn(const MenuItem& item) {
    if (!item.key.isEmpty())
        return QString::fromUtf16(kCommandSign) + item.key.toUpper();
    if (item.hasSubmenu)
        return QString::fromUtf16(kSubmenuArrow);
    return {};
}

} // namespace

SnapshotLayout layoutSnapshot(const Menu& menu) {
    SnapshotLayout layout;
    layout.width = kWidth;
    layout.rows.reserve(menu.size());

    // Coordinates are qreal so that no menu length can overflow them; a picture too tall to
    // allocate is refused when it is painted.
    qreal y = kFirstRowTop;
    for (const MenuItem& item : menu) {
        SnapshotRow row;
        row.top = y;
        if (item.separator) {
            row.separator = true;
            row.line = QRectF(16, y + 5, kWidth - 32, 1);
            y += kSeparatorHeight;
        } else {
            const bool live = isLive(item);
            row.role = live ? SnapshotRole::Text : SnapshotRole::Dim;
            row.checkMark = item.checked;
            row.title = item.title;
            row.right = rightColumn(item);
            row.checkOrigin = QPointF(12, y + kTextOffset);
            row.titleOrigin = QPointF(28, y + kTextOffset);
            row.rightOrigin = QPointF(kRightColumnX, y + kTextOffset);
            y += kItemHeight;
        }
        layout.rows.push_back(std::move(row));
    }

    layout.height = y + kBottomMargin;
    layout.icon = QRectF(kRightColumnX, 6, 20, 18);
    layout.panel = QRectF(4, kFirstRowTop - 8, kWidth - 8, layout.height - 36);
    layout.panelRadius = 10;
    return layout;
}

} // namespace quillnest
