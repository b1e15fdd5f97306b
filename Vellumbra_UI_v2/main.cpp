#include <QApplication>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Orvane");
    QApplication::setApplicationName("Vellumbra 3");
    QApplication::setApplicationVersion("3.2.0");

    QMainWindow window;
    window.setWindowTitle("Vellumbra");
    window.resize(1280, 800);
    window.show();
    if (app.arguments().contains("--quit-after-start"))
        QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
