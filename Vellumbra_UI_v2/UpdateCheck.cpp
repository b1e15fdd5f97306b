#include "UpdateCheck.h"

#include "AppIdentity.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <tuple>

namespace {
const QString kVersionPath = QStringLiteral("/wp-json/hdr/v2/versions/current/WIN64");
}

QString ServerVersion::text() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

bool ServerVersion::isNewerThanRunning() const
{
    return std::tie(major, minor, patch) > std::make_tuple(AppIdentity::kMajor, AppIdentity::kMinor, AppIdentity::kPatch);
}

ServerVersion parseVersionResponse(const QByteArray& body)
{
    ServerVersion version;
    const QString text = QString::fromUtf8(body);
    const QString json = text.left(text.lastIndexOf(QLatin1Char('}')) + 1);
    if (json.isEmpty())
        return version;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (!document.isObject())
        return version;
    const QJsonObject object = document.object();
    version.usable = true;
    version.major = object.value(QStringLiteral("major")).toInt();
    version.minor = object.value(QStringLiteral("minor")).toInt();
    version.patch = object.value(QStringLiteral("patch")).toInt();
    version.url = object.value(QStringLiteral("url")).toString();
    return version;
}

QString updateRequestUrl(const QString& serviceAddress)
{
    QString address = serviceAddress.trimmed();
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address.isEmpty() ? QString() : address + kVersionPath;
}
