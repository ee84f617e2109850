// The floor of start-up to a tray icon: the least a Qt Widgets program does to show an icon in the
// system tray. It starts the application, makes a 20 x 18 pixmap with a dot on it, shows it as a
// QSystemTrayIcon and runs the event loop with no timer of its own until it is terminated.
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(20, 18);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(52, 199, 89));
        painter.drawEllipse(QRectF(11, 9.5, 8, 8));
    }
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.show();
    return application.exec();
}
