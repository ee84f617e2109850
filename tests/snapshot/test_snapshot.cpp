#include "menu_items.h"
#include "snapshot/snapshot.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace quillnest;
using namespace Qt::StringLiterals;

namespace {

QIcon redIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

// A full block covers its whole cell, so its inside shows the pure text colour. (Neighbouring
// blocks overlap by a fraction of a pixel, so only one is drawn where colours are compared.)
const QString kBlock = u"\u2588"_s;

// The written picture's pixels are addressed in layout coordinates: the picture is 330 wide at
// whatever pixel density it was written.
qreal densityOf(const QImage& image) {
    return image.width() / 330.0;
}

QRgb at(const QImage& image, qreal x, qreal y) {
    const qreal d = densityOf(image);
    return image.pixel(int((x + 0.5) * d), int((y + 0.5) * d));
}

// The brightest red channel in a layout rectangle (dark palette: text is white).
int brightest(const QImage& image, const QRectF& r) {
    const qreal d = densityOf(image);
    int best = 0;
    for (int y = int(r.top() * d); y < int(r.bottom() * d); ++y)
        for (int x = int(r.left() * d); x < int(r.right() * d); ++x)
            best = std::max(best, qRed(image.pixel(x, y)));
    return best;
}

bool near(QRgb pixel, int r, int g, int b, int tolerance = 2) {
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance &&
           std::abs(qBlue(pixel) - b) <= tolerance && qAlpha(pixel) == 255;
}

QString describe(QRgb p) {
    return u"rgba(%1, %2, %3, %4)"_s.arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p)).arg(qAlpha(p));
}

#define VERIFY_GREY(pixel, grey)                                                                   \
    QVERIFY2(near(pixel, grey, grey, grey), qPrintable(describe(pixel)))

} // namespace

class TestSnapshot : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    // Writes the picture into the temporary folder and reads it back from disk.
    QImage written(const Menu& menu, const QIcon& icon, bool dark) {
        const QString path = dir.filePath(u"menu.png"_s);
        QFile::remove(path);
        snapshot(menu, icon, path, dark);
        QImage image(path, "PNG");
        return image;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void pictureSize_data() {
        QTest::addColumn<Menu>("menu");
        QTest::addColumn<int>("height");
        QTest::newRow("empty") << Menu{} << 52;
        QTest::newRow("three items, one separator")
            << Menu{item(u"a"_s), separator(), item(u"b"_s), item(u"c"_s)} << 135;
    }
    void pictureSize() {
        QFETCH(Menu, menu);
        QFETCH(int, height);
        const QImage image = written(menu, redIcon(), false);
        QVERIFY(!image.isNull());
        const qreal dpr = qGuiApp->devicePixelRatio();
        QCOMPARE(image.size(), QSize(qCeil(330 * dpr), qCeil(height * dpr)));
        if (qEnvironmentVariable("QT_SCALE_FACTOR") == u"2"_s)
            QCOMPARE(image.size(), QSize(660, 2 * height));
        else if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
            QCOMPARE(image.size(), QSize(330, height));
    }

    void palette_data() {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("backdrop");
        QTest::addColumn<int>("panel");
        QTest::addColumn<int>("line");
        // Grey 0.1 / 0.85 backdrop, 0.17 / 0.97 panel, text colour at alpha 0.2 over the panel.
        QTest::newRow("dark") << true << 26 << 43 << 86;
        QTest::newRow("light") << false << 217 << 247 << 198;
    }
    void palette() {
        QFETCH(bool, dark);
        QFETCH(int, backdrop);
        QFETCH(int, panel);
        QFETCH(int, line);
        const QImage image = written({item(u"Alpha"_s), separator(), item(u"Beta"_s)}, {}, dark);
        QVERIFY(!image.isNull());
        const int h = 111;

        VERIFY_GREY(at(image, 100, 15), backdrop); // the band above the panel
        VERIFY_GREY(at(image, 1, 60), backdrop);   // left margin
        VERIFY_GREY(at(image, 328, 60), backdrop); // right margin
        VERIFY_GREY(at(image, 165, h - 2), backdrop);
        VERIFY_GREY(at(image, 4.2, 32.2), backdrop); // outside the rounded corner

        VERIFY_GREY(at(image, 165, 36), panel);
        VERIFY_GREY(at(image, 200, 50), panel);
        VERIFY_GREY(at(image, 165, h - 6), panel);
        VERIFY_GREY(at(image, 5, 60), panel);

        VERIFY_GREY(at(image, 165, 69), line);
        VERIFY_GREY(at(image, 17, 69), line);
        VERIFY_GREY(at(image, 313, 69), line);
        VERIFY_GREY(at(image, 165, 68), panel);
        VERIFY_GREY(at(image, 165, 70), panel);
        VERIFY_GREY(at(image, 14, 69), panel);
    }

    void iconStretchedIntoItsRectangle() {
        const QImage image = written({}, redIcon(), true);
        QVERIFY(!image.isNull());
        for (const QPointF p : {QPointF(296, 15), QPointF(286, 6), QPointF(305, 23)})
            QVERIFY2(near(at(image, p.x(), p.y()), 255, 0, 0),
                     qPrintable(describe(at(image, p.x(), p.y()))));
        VERIFY_GREY(at(image, 284, 15), 26);
        VERIFY_GREY(at(image, 308, 15), 26);
        VERIFY_GREY(at(image, 296, 26), 26);
    }

    void noIconLeavesTheBandEmpty() {
        const QImage image = written({item(u"a"_s)}, QIcon(), true);
        QVERIFY(!image.isNull());
        VERIFY_GREY(at(image, 296, 15), 26);
    }

    // Dark palette: the text colour is white, dim is white at 0.45 over the panel (about 138).
    void textColours() {
        MenuItem command = item(kBlock, Action::Quit);
        command.key = u"q"_s;
        MenuItem info = item(kBlock, Action::None);
        MenuItem checked = item(kBlock, Action::ToggleWatch);
        checked.checked = true;
        MenuItem submenu = item(kBlock, Action::None);
        submenu.hasSubmenu = true;
        const QImage image = written({command, info, checked, submenu}, {}, true);
        QVERIFY(!image.isNull());

        auto title = [](int row) { return QRectF(28, 43 + 24 * row, 20, 16); };
        auto check = [](int row) { return QRectF(12, 43 + 24 * row, 14, 14); };
        auto right = [](int row) { return QRectF(286, 43 + 24 * row, 40, 14); };

        QVERIFY(brightest(image, title(0)) >= 250);
        QCOMPARE_GE(brightest(image, title(1)), 134);
        QCOMPARE_LE(brightest(image, title(1)), 142);
        QVERIFY(brightest(image, title(3)) >= 250); // a submenu makes an item live
        QVERIFY(brightest(image, title(2)) >= 250);

        // The right column is dim even on a live item: "⌘Q" on row 0, "›" on row 3.
        QCOMPARE_GE(brightest(image, right(0)), 80);
        QCOMPARE_LE(brightest(image, right(0)), 142);
        QCOMPARE_GE(brightest(image, right(3)), 80);
        QCOMPARE_LE(brightest(image, right(3)), 142);
        QCOMPARE_LE(brightest(image, right(1)), 44); // nothing: no key, no submenu

        QCOMPARE_GE(brightest(image, check(2)), 150);
        QCOMPARE_LE(brightest(image, check(0)), 44);
    }

    // Titles are not clipped to the panel, only to the picture.
    void longTitleRunsToThePictureEdge() {
        const QImage image = written({item(kBlock.repeated(40))}, {}, true);
        QVERIFY(!image.isNull());
        QVERIFY(brightest(image, QRectF(327, 45, 3, 8)) >= 250);
    }

    // '&' is drawn as itself, not taken as a mnemonic marker.
    void ampersandIsDrawn() {
        const QImage image = written({item(u"&"_s)}, {}, true);
        QVERIFY(!image.isNull());
        QCOMPARE_GE(brightest(image, QRectF(28, 43, 12, 16)), 150);
    }

    void oddFileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << u"my menu.png"_s;
        QTest::newRow("shell characters") << u"a&b<c>'\"$(x);.png"_s;
        QTest::newRow("non-ASCII") << u"\u043C\u0435\u043D\u044E \u0451.png"_s;
        QTest::newRow("no extension") << u"menu"_s;
    }
    void oddFileNames() {
        QFETCH(QString, name);
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        snapshot({item(u"a"_s)}, redIcon(), path, false);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
        QVERIFY(!QImage(path, "PNG").isNull());
    }

    void missingFolderLeavesNothing() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"missing/menu.png"_s);
        snapshot({item(u"a"_s)}, redIcon(), path, false);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!QFile::exists(folder.filePath(u"missing"_s)));
        QVERIFY(
            QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void directoryAtThePathIsLeftAlone() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"menu.png"_s);
        QVERIFY(QDir().mkdir(path));
        snapshot({item(u"a"_s)}, redIcon(), path, false);
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{u"menu.png"_s});
    }

    void existingFileIsReplaced() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"menu.png"_s);
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(100000, 'x'));
        }
        snapshot({}, redIcon(), path, true);
        const QImage image(path, "PNG");
        QVERIFY(!image.isNull());
        QCOMPARE(image.width(), qCeil(330 * qGuiApp->devicePixelRatio()));
        VERIFY_GREY(at(image, 100, 15), 26);
        QCOMPARE(
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{u"menu.png"_s});
    }

    // A symbolic link planted at the picture's path is replaced; what it points to stays as it was.
    void linkAtThePathIsReplaced_data() {
        QTest::addColumn<QString>("points"); // at what the link points
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("nothing") << u"nothing"_s;
        QTest::newRow("directory") << u"directory"_s;
    }
    void linkAtThePathIsReplaced() {
        QFETCH(QString, points);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"menu.png"_s);
        const QString target = folder.filePath(u"target"_s);
        if (points == u"directory"_s)
            QVERIFY(QDir().mkdir(target));
        QFile file(target);
        if (points == u"file"_s)
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1 && file.flush());
        QVERIFY(QFile::link(target, path));

        snapshot({item(u"a"_s)}, redIcon(), path, false);
        QVERIFY(!QFileInfo(path).isSymLink());
        QVERIFY(!QImage(path, "PNG").isNull());
        if (points == u"file"_s)
            QCOMPARE(QFileInfo(target).size(), 1);
        QCOMPARE(QFileInfo::exists(target), points != u"nothing"_s);
        QCOMPARE(QDir(folder.path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                     .size(),
                 points == u"nothing"_s ? 1 : 2);
    }

    void emptyPathWritesNothing() {
        QTemporaryDir folder;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        snapshot({item(u"a"_s)}, redIcon(), QString(), false);
        QDir::setCurrent(previous);
        QVERIFY(
            QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
};

QTEST_MAIN(TestSnapshot)
#include "test_snapshot.moc"
