#include "menu/dot_icon.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace quillnest;

namespace {

QPalette palette(QColor window, QColor text) {
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    return p;
}

const QColor lightText(20, 20, 20);
const QColor darkText(235, 235, 235);
const QPalette lightPalette = palette(QColor(246, 246, 246), lightText);
const QPalette darkPalette = palette(QColor(40, 40, 40), darkText);

QImage render(const QIcon& icon, qreal dpr) {
    const QPixmap pm = icon.pixmap(QSize(20, 18), dpr);
    return pm.toImage().convertToFormat(QImage::Format_ARGB32);
}

// The pixel under the logical point (x, y), origin at the top left.
QColor at(const QImage& image, qreal x, qreal y) {
    const qreal dpr = image.devicePixelRatio();
    return image.pixelColor(int(x * dpr), int(y * dpr));
}

} // namespace

class TestDotIcon : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QGuiApplication::setPalette(QPalette()); }
    void sizes_data();
    void sizes();
    void dotAndGlyph_data();
    void dotAndGlyph();
    void sameIconFollowsPalette();
    void paintKeepsAspect();
    void glyphStandsOutOnPanels_data();
    void glyphStandsOutOnPanels();
};

void TestDotIcon::sizes_data() {
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<qreal>("dpr");
    QTest::addColumn<QSize>("pixels");
    QTest::newRow("1x") << QSize(20, 18) << 1.0 << QSize(20, 18);
    QTest::newRow("2x") << QSize(20, 18) << 2.0 << QSize(40, 36);
    QTest::newRow("3x") << QSize(20, 18) << 3.0 << QSize(60, 54);
    QTest::newRow("square request") << QSize(22, 22) << 1.0 << QSize(22, 19);
    QTest::newRow("tall request 2x") << QSize(10, 30) << 2.0 << QSize(20, 18);
}

void TestDotIcon::sizes() {
    QFETCH(QSize, requested);
    QFETCH(qreal, dpr);
    QFETCH(QSize, pixels);
    const QIcon icon = dotIcon(StatusColor::Green);
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.actualSize(QSize(20, 18)), QSize(20, 18));
    const QPixmap pm = icon.pixmap(requested, dpr);
    QCOMPARE(pm.size(), pixels);
    QCOMPARE(pm.devicePixelRatio(), dpr);
    // Nothing is painted outside the glyph and the dot: the corners stay transparent.
    const QImage image = pm.toImage();
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(image.pixelColor(image.width() - 1, 0).alpha(), 0);
}

void TestDotIcon::dotAndGlyph_data() {
    QTest::addColumn<StatusColor>("color");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<qreal>("dpr");
    for (StatusColor c :
         {StatusColor::Gray, StatusColor::Red, StatusColor::Yellow, StatusColor::Green}) {
        for (bool dark : {false, true}) {
            for (qreal dpr : {1.0, 2.0}) {
                QTest::addRow("%d %s %gx", int(c), dark ? "dark" : "light", dpr)
                    << c << dark << dpr;
            }
        }
    }
}

void TestDotIcon::dotAndGlyph() {
    QFETCH(StatusColor, color);
    QFETCH(bool, dark);
    QFETCH(qreal, dpr);
    QGuiApplication::setPalette(dark ? darkPalette : lightPalette);
    const QImage image = render(dotIcon(color), dpr);

    // The dot is centred at (15, 13.5) from the top left, diameter 8.
    const QColor fill = at(image, 15, 13.5);
    QCOMPARE(fill, systemColor(color, dark));
    // Its rim at the lower edge is darker than the fill (alpha aside: at 1x the pixel also holds
    // some of the transparent background).
    const QColor rim = at(image, 15.25, 17.25);
    QVERIFY(rim.alpha() > 0);
    QVERIFY2(rim.red() <= fill.red() && rim.green() <= fill.green() && rim.blue() <= fill.blue() &&
                 qGray(rim.rgb()) < qGray(fill.rgb()) - 10,
             qPrintable(rim.name() + QStringLiteral(" vs ") + fill.name()));

    // The page's left edge (x 1 to 2.2) is drawn in the palette's text colour: dark on a light
    // palette, light on a dark one.
    const QColor edge = at(image, 1.5, 8);
    QCOMPARE(edge.alpha(), 255);
    QCOMPARE(edge.rgb(), (dark ? darkText : lightText).rgb());
    // Inside the page, between the text lines, the sheet is opaque and of the opposite lightness.
    const QColor sheet = at(image, 6.5, 9.9);
    QCOMPARE(sheet.alpha(), 255);
    QVERIFY(dark ? qGray(sheet.rgb()) < 64 : qGray(sheet.rgb()) > 192);
}

// The palette is read when painting, not when the icon is made.
void TestDotIcon::sameIconFollowsPalette() {
    const QIcon icon = dotIcon(StatusColor::Red);
    QGuiApplication::setPalette(lightPalette);
    const QImage light = render(icon, 2.0);
    QGuiApplication::setPalette(darkPalette);
    const QImage dark = render(icon, 2.0);
    QCOMPARE(at(light, 1.5, 8).rgb(), lightText.rgb());
    QCOMPARE(at(dark, 1.5, 8).rgb(), darkText.rgb());
    QCOMPARE(at(light, 15, 13.5), systemColor(StatusColor::Red, false));
    QCOMPARE(at(dark, 15, 13.5), systemColor(StatusColor::Red, true));
}

// Painting into a wider rectangle centres the 20:18 picture instead of stretching it.
void TestDotIcon::paintKeepsAspect() {
    QGuiApplication::setPalette(lightPalette);
    QImage image(60, 18, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        dotIcon(StatusColor::Yellow).paint(&p, image.rect());
    }
    QCOMPARE(image.pixelColor(20 + 15, 13), systemColor(StatusColor::Yellow, false));
    QCOMPARE(image.pixelColor(5, 13).alpha(), 0);
    QCOMPARE(image.pixelColor(55, 13).alpha(), 0);
}

// WCAG 2 relative luminance and contrast ratio of two opaque sRGB colours.
double luminance(QColor c) {
    const auto channel = [](int v) {
        const double x = v / 255.0;
        return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(QColor a, QColor b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void TestDotIcon::glyphStandsOutOnPanels_data() {
    QTest::addColumn<QColor>("panel");
    QTest::addColumn<bool>("darkTheme");
    QTest::addColumn<int>("size");
    for (const char* panel : {"#2b2b2b", "#eeeeee", "#000000", "#ffffff"}) {
        for (bool darkTheme : {false, true}) {
            for (int size : {16, 22, 24}) {
                QTest::addRow("panel %s, %s theme, %d px", panel, darkTheme ? "dark" : "light",
                              size)
                    << QColor(QString::fromLatin1(panel)) << darkTheme << size;
            }
        }
    }
}

// Whatever the panel behind it and the desktop's theme, at least a third of the page (left of the
// dot) contrasts with the panel by at least 3:1, as WCAG asks of graphical objects.
void TestDotIcon::glyphStandsOutOnPanels() {
    QFETCH(QColor, panel);
    QFETCH(bool, darkTheme);
    QFETCH(int, size);
    QGuiApplication::setPalette(darkTheme ? darkPalette : lightPalette);
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(panel);
    {
        QPainter p(&image);
        dotIcon(StatusColor::Green).paint(&p, image.rect());
    }
    // The page spans x 1..13 and y 1..16 of the 20 x 18 icon; the dot starts at x 11.
    const qreal scale = size / 20.0;
    const int top = qRound((size - 18 * scale) / 2);
    int page = 0;
    int standing = 0;
    for (int y = top + qRound(1 * scale); y < top + qRound(16 * scale); ++y) {
        for (int x = qRound(1 * scale); x < qRound(11 * scale); ++x) {
            ++page;
            if (contrast(image.pixelColor(x, y), panel) >= 3.0)
                ++standing;
        }
    }
    QVERIFY2(standing * 3 >= page,
             qPrintable(QStringLiteral("%1 of %2 pixels stand out").arg(standing).arg(page)));
}

QTEST_MAIN(TestDotIcon)
#include "test_dot_icon.moc"
