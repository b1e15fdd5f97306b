#include "StackingContext.h"

#include <cstdlib>

StackingContext::~StackingContext()
{
    if (toleranceTableSize != 0)
        std::free(toleranceTable);
}

void StackingContext::requestCancel()
{
    if (running)
        request = RequestCancel;
}

void StackingContext::requestStop()
{
    if (running)
        request = RequestStop;
}

bool StackingContext::requestPending() const
{
    return request != RequestNone || (requestOwner && requestOwner->request != RequestNone);
}
