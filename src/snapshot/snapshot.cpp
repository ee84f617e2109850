#include "snapshot/snapshot.h"

#include "snapshot/snapshot_layout.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>
#include <limits>

namespace quillnest {

namespace {

struct SnapshotPalette {
    QColor backdrop; // the whole picture, including the band that stands for the menu bar
    QColor panel;
    QColor text; // the dim and separator colours are this with another alpha
};

const SnapshotPalette& paletteFor(bool dark) {
    static const SnapshotPalette kDark{QColor::fromRgbF(0.1f, 0.1f, 0.1f),
                                       QColor::fromRgbF(0.17f, 0.17f, 0.17f), QColor(Qt::white)};
    static const SnapshotPalette kLight{QColor::fromRgbF(0.85f, 0.85f, 0.85f),
                                        QColor::fromRgbF(0.97f, 0.97f, 0.97f), QColor(Qt::black)};
    return dark ? kDark : kLight;
}

QColor withAlpha(QColor color, float alpha) {
    color.setAlphaF(alpha);
    return color;
}

// The application's menu font at 13 device-independent pixels. Only a QApplication knows the
// per-class font of QMenu; a plain QGuiApplication offers its general font.
QFont menuFont() {
    QFont font = qobject_cast<QApplication*>(QCoreApplication::instance())
                     ? QApplication::font("QMenu")
                     : QGuiApplication::font();
    font.setPixelSize(13);
    return font;
}

// Above this many bytes the picture is not rendered (a menu of millions of rows).
constexpr double kMaxImageBytes = std::numeric_limits<int>::max();

// A device-pixel image for a `width` x `height` picture at `dpr`, filled with `fill`; null when it
// would be too large. Its device pixel ratio is set, so painting on it uses logical coordinates.
// The picture is opaque (every palette's backdrop is), so it has no alpha channel: the PNG encoder
// then takes its rows as they are, with three channels instead of four, where a premultiplied
// image would first be converted into a second full-size copy.
QImage makeCanvas(qreal width, qreal height, qreal dpr, const QColor& fill) {
    const double deviceWidth = std::ceil(width * dpr);
    const double deviceHeight = std::ceil(height * dpr);
    if (!(deviceWidth >= 1 && deviceHeight >= 1) || deviceWidth * deviceHeight * 4 > kMaxImageBytes)
        return {};
    QImage image(int(deviceWidth), int(deviceHeight), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(dpr);
    image.fill(fill);
    return image;
}

// Stretches `icon` over `rect`, as sharp as the canvas's pixel density allows.
void drawIcon(QPainter& painter, const QIcon& icon, const QRectF& rect, qreal dpr) {
    const QPixmap pixmap = icon.pixmap(rect.size().toSize(), dpr);
    if (pixmap.isNull())
        return;
    painter.drawPixmap(rect, pixmap, QRectF(QPointF(0, 0), pixmap.size()));
}

// Qt maps a PNG quality q to zlib level (100 - q) * 9 / 91, so 60 is level 3. On menu pictures
// (flat areas and text) it encodes in about half the time of the library default and gives
// smaller files; higher levels only cost time.
constexpr int kPngQuality = 60;

// A new, empty file beside `target` that no one else has opened, created with the permissions of
// any new file (0666 less the umask); an unopened file when the folder does not take one.
void openBeside(const QString& target, QFile& file) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        file.setFileName(target + QStringLiteral(".") +
                         QString::number(QRandomGenerator::global()->generate(), 36) +
                         QStringLiteral(".tmp"));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
        // Only a name taken in the meantime is worth another try.
        if (!QFileInfo::exists(file.fileName()))
            return;
    }
}

// Writes `image` as PNG to `path`, replacing what is there only once the whole picture has been
// written: the bytes go to a new file beside the target, which is then renamed over it. A failed
// encode or write removes that file and leaves the target as it was. A symbolic link at `path` is
// itself replaced, so the picture never lands where a planted link points. The picture keeps the
// permissions of the regular file it replaces, as with QSaveFile; unlike QSaveFile it does not
// wait for the disk (fdatasync) before the rename: a picture lost to a power cut is simply drawn
// again, and under disk load that wait cost more than drawing both pictures.
void writePng(const QImage& image, const QString& target) {
    // QFileInfo follows links except in isSymLink(): a link is judged as the entry it is.
    const QFileInfo existing(target);
    const bool link = existing.isSymLink();
    if (!link && (existing.isDir() || (existing.exists() && !existing.isWritable())))
        return;
    QFile file;
    openBeside(target, file);
    if (!file.isOpen())
        return;
    QImageWriter writer(&file, "png");
    writer.setQuality(kPngQuality);
    bool written = writer.write(image) && file.flush();
    if (written && !link && existing.exists())
        written = file.setPermissions(existing.permissions());
    file.close();
    written = written && file.error() == QFileDevice::NoError &&
              std::rename(QFile::encodeName(file.fileName()).constData(),
                          QFile::encodeName(target).constData()) == 0;
    if (!written)
        file.remove();
}

} // namespace

QImage renderSnapshot(const Menu& menu, const QIcon& icon, bool dark) {
    // Fonts and pixmaps need a QGuiApplication; without one there is nothing to paint with.
    if (!qGuiApp)
        return {};

    const SnapshotLayout layout = layoutSnapshot(menu);
    const SnapshotPalette& palette = paletteFor(dark);
    const QColor dim = withAlpha(palette.text, 0.45f);
    const QColor separator = withAlpha(palette.text, 0.2f);

    qreal dpr = qGuiApp->devicePixelRatio();
    if (!(dpr > 0))
        dpr = 1;
    QImage image = makeCanvas(layout.width, layout.height, dpr, palette.backdrop);
    if (image.isNull())
        return {};

    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);

    drawIcon(painter, icon, layout.icon, dpr);

    painter.setPen(Qt::NoPen);
    painter.setBrush(palette.panel);
    painter.drawRoundedRect(layout.panel, layout.panelRadius, layout.panelRadius);

    const QFont font = menuFont();
    painter.setFont(font);
    // Layout origins are the top-left corner of the text line; QPainter draws at the baseline.
    const qreal ascent = QFontMetricsF(font, &image).ascent();
    auto drawText = [&](const QPointF& origin, const QString& text, const QColor& color) {
        painter.setPen(color);
        painter.drawText(QPointF(origin.x(), origin.y() + ascent), text);
    };

    for (const SnapshotRow& row : layout.rows) {
        if (row.separator) {
            painter.fillRect(row.line, separator);
            continue;
        }
        const QColor& color = row.role == SnapshotRole::Text ? palette.text : dim;
        if (row.checkMark)
            drawText(row.checkOrigin, QString::fromUtf16(kCheckMark), color);
        drawText(row.titleOrigin, row.title, color);
        if (!row.right.isEmpty())
            drawText(row.rightOrigin, row.right, dim);
    }
    painter.end();
    return image;
}

void snapshot(const Menu& menu, const QIcon& icon, const QString& path, bool dark) {
    if (path.isEmpty())
        return;
    const QImage image = renderSnapshot(menu, icon, dark);
    if (image.isNull())
        return;
    writePng(image, path);
}

} // namespace quillnest
