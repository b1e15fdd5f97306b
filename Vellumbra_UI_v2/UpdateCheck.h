#pragma once
#include <QByteArray>
#include <QString>

// The update service's answer: one JSON object with "major", "minor", "patch" and "url".
struct ServerVersion
{
    bool usable = false;  // the body held a JSON object
    int major = 0;        // members missing or not integers count as 0
    int minor = 0;
    int patch = 0;
    QString url;

    QString text() const;  // "major.minor.patch"
    bool isNewerThanRunning() const;
};

// Reads the body up to its last "}"; anything after it is ignored. A body without one,
// or one that is not a JSON object, is not usable.
ServerVersion parseVersionResponse(const QByteArray& body);

// The version endpoint under the service address; empty when the address is empty.
QString updateRequestUrl(const QString& serviceAddress);

// Time-outs of the request, so an unreachable service never keeps the check waiting long.
constexpr long kUpdateConnectTimeoutSeconds = 3;
constexpr long kUpdateTotalTimeoutSeconds = 5;
