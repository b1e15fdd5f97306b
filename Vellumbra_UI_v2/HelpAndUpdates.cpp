#include "vellumbraV2.h"

#include "AppIdentity.h"
#include "LanguageEngine.h"
#include "MessageBoxes.h"
#include "ShowGeneralSettings.h"
#include "ShowLog.h"
#include "UpdateCheck.h"
#include "Utilities.h"

#include <QCheckBox>
#include <QDebug>
#include <QDesktopServices>
#include <QGridLayout>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <memory>
#include <string>

void VellumbraV2::about()
{
    QMessageBox::about(this, translate("AboutVellumbra").arg(AppIdentity::kVersion),
                       translate("AboutVellumbraDetails").arg(AppIdentity::kVersion));
}

void VellumbraV2::checkUpdates()
{
    if (updateRequest)
        return;  // the answer of the running request is still to come
    const QString url =
        updateRequestUrl(settings.value(QStringLiteral("UserParameters/UpdateServiceAddress")).toString());
    if (url.isEmpty()) {
        finishUpdateCheck(QByteArray());
        return;
    }
    // The request runs beside the interface so that a slow service never freezes the window.
    auto body = std::make_shared<std::string>();
    updateRequest = QThread::create([url, body] {
        *body = downloadText(url.toStdString(), kUpdateConnectTimeoutSeconds, kUpdateTotalTimeoutSeconds);
    });
    connect(updateRequest, &QThread::finished, this, [this, body] {
        updateRequest->deleteLater();
        updateRequest = nullptr;
        finishUpdateCheck(QByteArray::fromStdString(*body));
    });
    updateRequest->start();
}

void VellumbraV2::finishUpdateCheck(const QByteArray& body)
{
    // The first, automatic check stays quiet about failures and about being up to date.
    const bool reportAll = updateCheckDone;
    const ServerVersion version = parseVersionResponse(body);
    if (!version.usable) {
        if (reportAll)
            showCriticalBox(this, translate("Error"), translate("ExplanationError"));
    } else {
        qDebug() << "Update service version" << version.text() << "running" << AppIdentity::kVersion;
        const bool announce = settings.value(QStringLiteral("UserParameters/ShowUpdates"), true).toBool();
        if (announce && version.isNewerThanRunning())
            announceNewVersion(version);
        else if (reportAll)
            showInformationBox(this, translate("VellumbraUpdates"), translate("NoUpdates"));
    }
    updateCheckDone = true;
    emit updateCheckFinished();
}

void VellumbraV2::announceNewVersion(const ServerVersion& version)
{
    QString text = translate("NewVersionText").arg(version.text());
    if (version.major > AppIdentity::kMajor)
        text += translate("NoteForNewVersion");
    QMessageBox box(QMessageBox::Question, translate("NewVersion"), text, QMessageBox::Yes | QMessageBox::No, this,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setDefaultButton(QMessageBox::Yes);
    for (QAbstractButton* button : box.buttons())
        button->setCursor(Qt::PointingHandCursor);
    QCheckBox* doNotShowAgain = nullptr;
    if (!updateCheckDone) {
        doNotShowAgain = new QCheckBox(translate("DoNotShowAgain"), &box);
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
            grid->addWidget(doNotShowAgain, 1, 0, 2, 1, Qt::AlignBottom);
    }
    if (box.exec() == QMessageBox::Yes) {
        showInformationBox(this, translate("DialogUpdateTitle"), translate("DialogUpdateText"));
        QCoreApplication::exit(0);
        QDesktopServices::openUrl(QUrl(version.url, QUrl::TolerantMode));
    }
    if (doNotShowAgain && doNotShowAgain->isChecked())
        settings.setValue(QStringLiteral("UserParameters/ShowUpdates"), false);
}

void VellumbraV2::openWebPage(const QString& englishPath, const QString& frenchPath)
{
    const bool french =
        settings.value(QStringLiteral("GeneralSettings/ChosenLanguage"), QString()).toString() == QLatin1String("Francais");
    QDesktopServices::openUrl(QUrl(AppIdentity::kWebSite + (french ? frenchPath : englishPath), QUrl::TolerantMode));
}

void VellumbraV2::openFAQWebPage()
{
    openWebPage(QStringLiteral("/frequently-asked-questions/"), QStringLiteral("/fr/faq/"));
}

void VellumbraV2::openTutoWebPage()
{
    openWebPage(QStringLiteral("/learning-materials/"), QStringLiteral("/fr/ressources/"));
}

void VellumbraV2::showGuide()
{
    if (pluginMode)
        openWebPage(QStringLiteral("/user-guide-lightroom-plugin-version/"),
                    QStringLiteral("/fr/tutoriel-plugin-lightroom/"));
    else
        openWebPage(QStringLiteral("/user-guide-standalone-version/"),
                    QStringLiteral("/fr/tutoriel-autonome-vellumbra/"));
}

void VellumbraV2::showLog()
{
    ShowLog dialog(this);
    dialog.exec();
}

void VellumbraV2::showGeneralSettings()
{
    ShowGeneralSettings dialog(this);
    if (dialog.exec() == QDialog::Accepted) {
        overExposedLimit =
            settings.value(QStringLiteral("GeneralSettings/OverExposedLimit"), overExposedLimit).toInt();
        underExposedLimit =
            settings.value(QStringLiteral("GeneralSettings/UnderExposedLimit"), underExposedLimit).toInt();
        showCurrentImageAgain();
    }
    if (dialog.languageChanged())
        loadChosenLanguage();
}

void VellumbraV2::clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QLayout* nested = item->layout()) {
            clearLayout(nested);
            delete nested;
        } else {
            delete item->widget();
            delete item;
        }
    }
}

void VellumbraV2::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (firstShowDone)
        return;
    firstShowDone = true;
    QTimer::singleShot(0, this, &VellumbraV2::checkUpdates);
}
