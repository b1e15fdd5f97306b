#include "VellumbraResources.h"
#include "vellumbraV2.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Orvane");
    QApplication::setApplicationName("Vellumbra 3");
    QApplication::setApplicationVersion("3.2.0");
    loadVellumbraResources();

    VellumbraV2 window;
    window.show();
    return app.exec();
}
