#include "menu/dot_icon.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

#include <array>

namespace quillnest {
namespace {

// Apple's published sRGB values of the system colours, indexed by StatusColor.
struct SystemRgb {
    QRgb light;
    QRgb dark;
};
constexpr std::array<SystemRgb, 4> systemColors = {{
    {qRgb(142, 142, 147), qRgb(142, 142, 147)}, // Gray
    {qRgb(255, 59, 48), qRgb(255, 69, 58)},     // Red
    {qRgb(255, 204, 0), qRgb(255, 214, 10)},    // Yellow
    {qRgb(52, 199, 89), qRgb(48, 209, 88)},     // Green
}};

// The icon's own coordinate space, in device-independent pixels with the origin at the top left.
constexpr qreal iconWidth = 20;
constexpr qreal iconHeight = 18;

// The sheet behind the ink: white under dark ink, near black under light ink.
QColor paperFor(const QColor& ink) {
    return qGray(ink.rgb()) < 128 ? QColor(255, 255, 255) : QColor(28, 28, 30);
}

// The document glyph: a page with a folded top-right corner and four text lines, 15 high, its
// bottom 2 above the icon's bottom edge and its left edge at 1. Outline and lines are in the ink
// colour, the sheet inside in the contrasting paper colour. A panel's colour is not always known
// to an application (a dark panel under a light desktop theme is common), and one of the two always
// stands out against it: the sheet on a panel like the ink, the outline on a panel like the paper.
void paintDocument(QPainter& p, const QColor& ink) {
    constexpr qreal pen = 1.2;
    constexpr qreal left = 1 + pen / 2;
    constexpr qreal right = 13 - pen / 2;
    constexpr qreal top = 1 + pen / 2;
    constexpr qreal bottom = 16 - pen / 2;
    constexpr qreal fold = 4;

    QPainterPath page;
    page.moveTo(left, top);
    page.lineTo(right - fold, top);
    page.lineTo(right, top + fold);
    page.lineTo(right, bottom);
    page.lineTo(left, bottom);
    page.closeSubpath();
    const QPainterPath sheetOutline = page;
    // The fold: down from the cut and across to the right edge.
    page.moveTo(right - fold, top);
    page.lineTo(right - fold, top + fold);
    page.lineTo(right, top + fold);

    p.fillPath(sheetOutline, paperFor(ink));

    p.setPen(QPen(ink, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(page);

    p.setPen(QPen(ink, 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 5.5), QPointF(6.5, 5.5));
    p.drawLine(QPointF(4, 8.5), QPointF(10, 8.5));
    p.drawLine(QPointF(4, 11), QPointF(10, 11));
    p.drawLine(QPointF(4, 13.5), QPointF(8, 13.5));
}

// The status dot: a circle of diameter 8 at the lower right (its lower edge 0.5 above the icon's
// bottom), filled with the status colour and rimmed with translucent black. Painted after the
// glyph, so it covers the page's corner.
void paintDot(QPainter& p, const QColor& fill) {
    const QRectF circle(11, iconHeight - 0.5 - 8, 8, 8);
    p.setPen(QPen(QColor(0, 0, 0, qRound(0.35 * 255)), 0.6));
    p.setBrush(fill);
    p.drawEllipse(circle);
}

bool isDark(const QPalette& palette) {
    return qGray(palette.color(QPalette::Window).rgb()) < 128;
}

class DotIconEngine final : public QIconEngine {
public:
    explicit DotIconEngine(StatusColor color) : color_(color) {}

    // Draws the icon scaled to fit `rect`, centred, keeping its 20:18 aspect. The palette is read
    // here, so a later palette change shows at the next paint.
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        if (!painter || rect.isEmpty())
            return;
        const QPalette palette = QGuiApplication::palette();
        const qreal scale = std::min(rect.width() / iconWidth, rect.height() / iconHeight);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.x() + (rect.width() - iconWidth * scale) / 2,
                           rect.y() + (rect.height() - iconHeight * scale) / 2);
        painter->scale(scale, scale);
        paintDocument(*painter, palette.color(QPalette::WindowText));
        paintDot(*painter, systemColor(color_, isDark(palette)));
        painter->restore();
    }

    // The largest 20:18 size that fits in `size`.
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (size.isEmpty())
            return {};
        return QSize(qRound(iconWidth), qRound(iconHeight)).scaled(size, Qt::KeepAspectRatio);
    }

    // A pixmap of actualSize(size) device pixels with device pixel ratio 1.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return render(size, mode, state, 1.0);
    }

    // `size` is in device pixels; the result carries `scale` as its device pixel ratio.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        return render(size, mode, state, scale > 0 ? scale : 1.0);
    }

    QString key() const override { return QStringLiteral("quillnest-dot"); }
    QIconEngine* clone() const override { return new DotIconEngine(color_); }

private:
    QPixmap render(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) {
        const QSize pixels = actualSize(size, mode, state);
        if (pixels.isEmpty())
            return {};
        QPixmap pixmap(pixels);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            paint(&painter, QRect(QPoint(), pixels), mode, state);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    StatusColor color_;
};

} // namespace

QColor systemColor(StatusColor color, bool dark) {
    const auto index = static_cast<std::size_t>(color);
    const SystemRgb& rgb = systemColors[index < systemColors.size() ? index : 0];
    return QColor(dark ? rgb.dark : rgb.light);
}

QIcon dotIcon(StatusColor color) {
    return QIcon(new DotIconEngine(color));
}

} // namespace quillnest
