// The reference for the start-up figures: the smallest Qt Widgets program
// that shows a top-level window.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Empty Qt Window"));
    window.resize(503, 385);
    window.show();
    return QApplication::exec();
}
