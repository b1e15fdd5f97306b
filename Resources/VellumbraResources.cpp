#include "VellumbraResources.h"

#include <QtGlobal>

#include <mutex>

void loadVellumbraResources()
{
    static std::once_flag loaded;
    std::call_once(loaded, [] {
        Q_INIT_RESOURCE(Vellumbra);
        Q_INIT_RESOURCE(vellumbraV2);
    });
}
