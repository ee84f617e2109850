#include "menu_items.h"
#include "snapshot/snapshot_layout.h"

#include <QTest>

using namespace quillnest;
using namespace Qt::StringLiterals;

class TestSnapshotLayout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyMenu() {
        const SnapshotLayout l = layoutSnapshot({});
        QCOMPARE(l.width, 330);
        QCOMPARE(l.height, 52);
        QCOMPARE(l.icon, QRectF(286, 6, 20, 18));
        QCOMPARE(l.panel, QRectF(4, 32, 322, 16));
        QCOMPARE(l.panelRadius, 10);
        QVERIFY(l.rows.empty());
    }

    void rowsAndSeparators() {
        const SnapshotLayout l =
            layoutSnapshot({item(u"A"_s), separator(), item(u"B"_s), item(u"C"_s)});
        QCOMPARE(l.height, 135);
        QCOMPARE(l.panel, QRectF(4, 32, 322, 99));
        QCOMPARE(l.rows.size(), size_t(4));

        QVERIFY(!l.rows[0].separator);
        QCOMPARE(l.rows[0].top, 40);
        QCOMPARE(l.rows[0].checkOrigin, QPointF(12, 43));
        QCOMPARE(l.rows[0].titleOrigin, QPointF(28, 43));
        QCOMPARE(l.rows[0].rightOrigin, QPointF(286, 43));

        QVERIFY(l.rows[1].separator);
        QCOMPARE(l.rows[1].top, 64);
        QCOMPARE(l.rows[1].line, QRectF(16, 69, 298, 1));

        QCOMPARE(l.rows[2].top, 75);
        QCOMPARE(l.rows[2].titleOrigin, QPointF(28, 78));
        QCOMPARE(l.rows[3].titleOrigin, QPointF(28, 102));
        QCOMPARE(l.rows[3].title, u"C"_s);
        // The panel ends 8 below the last row, 4 above the picture's bottom edge.
        QCOMPARE(l.panel.bottom(), l.rows[3].top + 24 + 8);
    }

    void textOriginsFollowRowHeights() {
        QCOMPARE(layoutSnapshot({item(u"A"_s), item(u"B"_s)}).rows[1].titleOrigin.y(), 67);
        QCOMPARE(layoutSnapshot({separator(), item(u"B"_s)}).rows[1].titleOrigin.y(), 54);
    }

    void rightColumn_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("hasSubmenu");
        QTest::addColumn<QString>("right");
        QTest::newRow("key") << u"q"_s << false << u"\u2318Q"_s;
        QTest::newRow("key replaces the arrow") << u"q"_s << true << u"\u2318Q"_s;
        QTest::newRow("submenu") << QString() << true << u"\u203A"_s;
        QTest::newRow("neither") << QString() << false << QString();
        QTest::newRow("non-ASCII key") << u"\u0451"_s << false << u"\u2318\u0401"_s;
    }
    void rightColumn() {
        QFETCH(QString, key);
        QFETCH(bool, hasSubmenu);
        QFETCH(QString, right);
        MenuItem i = item(u"x"_s);
        i.key = key;
        i.hasSubmenu = hasSubmenu;
        QCOMPARE(layoutSnapshot({i}).rows[0].right, right);
    }

    void role_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("hasAction");
        QTest::addColumn<bool>("hasSubmenu");
        QTest::addColumn<SnapshotRole>("role");
        QTest::newRow("enabled, action") << true << true << false << SnapshotRole::Text;
        QTest::newRow("enabled, submenu") << true << false << true << SnapshotRole::Text;
        QTest::newRow("enabled, neither (info line)")
            << true << false << false << SnapshotRole::Dim;
        QTest::newRow("disabled, action") << false << true << false << SnapshotRole::Dim;
        QTest::newRow("disabled, submenu") << false << false << true << SnapshotRole::Dim;
    }
    void role() {
        QFETCH(bool, enabled);
        QFETCH(bool, hasAction);
        QFETCH(bool, hasSubmenu);
        QFETCH(SnapshotRole, role);
        MenuItem i = item(u"x"_s, hasAction ? Action::Quit : Action::None);
        i.enabled = enabled;
        i.hasSubmenu = hasSubmenu;
        QCOMPARE(layoutSnapshot({i}).rows[0].role, role);
    }

    void checkMarkOnlyWhenChecked() {
        MenuItem on = item(u"Watch"_s, Action::ToggleWatch);
        on.checked = true;
        MenuItem off = on;
        off.checked = false;
        const SnapshotLayout l = layoutSnapshot({on, off});
        QVERIFY(l.rows[0].checkMark);
        QVERIFY(!l.rows[1].checkMark);
    }

    void titleIsVerbatim() {
        const QString title = u"R&D <b>x</b> \u00ABproj\u00BB &&"_s;
        QCOMPARE(layoutSnapshot({item(title)}).rows[0].title, title);
    }

    // The separator flag wins over anything else the item carries.
    void separatorIgnoresItemFields() {
        MenuItem s = item(u"ignored"_s);
        s.separator = true;
        s.checked = true;
        s.key = u"q"_s;
        const SnapshotLayout l = layoutSnapshot({s});
        QCOMPARE(l.height, 63);
        QVERIFY(l.rows[0].separator);
        QVERIFY(!l.rows[0].checkMark);
        QVERIFY(l.rows[0].title.isEmpty());
        QVERIFY(l.rows[0].right.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestSnapshotLayout)
#include "test_snapshot_layout.moc"
