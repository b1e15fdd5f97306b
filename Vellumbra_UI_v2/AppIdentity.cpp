#include "AppIdentity.h"

#include <QCoreApplication>

void applyApplicationIdentity()
{
    QCoreApplication::setOrganizationName(AppIdentity::kOrganisation);
    QCoreApplication::setOrganizationDomain(AppIdentity::kDomain);
    QCoreApplication::setApplicationName(AppIdentity::kApplication);
    QCoreApplication::setApplicationVersion(AppIdentity::kVersion);
}
