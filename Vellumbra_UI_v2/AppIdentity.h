#pragma once
#include <QString>

// The identity the settings store lives under, and the running version.
namespace AppIdentity {
constexpr int kMajor = 3;
constexpr int kMinor = 2;
constexpr int kPatch = 0;
inline const QString kOrganisation = QStringLiteral("Orvane");
inline const QString kDomain = QStringLiteral("https://vellumbra.example/");
inline const QString kApplication = QStringLiteral("Vellumbra 3");
inline const QString kVersion = QStringLiteral("3.2.0");
// The maker's web site: help pages and, by default, nothing else.
inline const QString kWebSite = QStringLiteral("https://vellumbra.example");
}  // namespace AppIdentity

// Sets the organisation, domain, application name and version on the application
// object, in that order; must run before anything opens the settings store.
void applyApplicationIdentity();
