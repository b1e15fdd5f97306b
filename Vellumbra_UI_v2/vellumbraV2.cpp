#include "vellumbraV2.h"

VellumbraV2::VellumbraV2(QWidget* parent)
    : QMainWindow(parent)
{
    ui.setupUi(this);
}
