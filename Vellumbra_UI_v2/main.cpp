#include <QApplication>
#include <QMainWindow>

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
    return app.exec();
}
