// The floor of a snapshot run: the least a Qt program can do to produce one menu-sized picture.
// It starts Qt on the offscreen platform, paints one picture of the given size, 330 x 349 by
// default (background, a rounded panel and a line of text every 22 pixels in the default font at 13
// pixels, so the font database is loaded as for any picture with text) and saves it as PNG with
// Qt's default settings, then leaves as the utility does, without tearing the application down.
//
// Usage: floor_snapshot OUTPUT.png [WIDTH HEIGHT]
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    int width = 330;
    int height = 349;
    if (argc == 4) {
        width = std::atoi(argv[2]);
        height = std::atoi(argv[3]);
    }
    if ((argc != 2 && argc != 4) || width < 40 || width > 4096 || height < 40 || height > 4096) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(217, 217, 217));
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(247, 247, 247));
        painter.drawRoundedRect(QRectF(4, 26, width - 8, height - 30), 6, 6);
        QFont font = QGuiApplication::font();
        font.setPixelSize(13);
        painter.setFont(font);
        painter.setPen(Qt::black);
        for (int line = 0; 48 + 22 * line < height - 8; ++line)
            painter.drawText(QPointF(14, 48 + 22 * line),
                             QStringLiteral("Menu line %1 of the picture").arg(line + 1));
    }
    const bool saved = image.save(output, "PNG");
    std::fflush(nullptr);
    std::_Exit(saved ? EXIT_SUCCESS : EXIT_FAILURE);
}
