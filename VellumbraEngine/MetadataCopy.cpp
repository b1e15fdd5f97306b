#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "Log.h"
#include "StartupValues.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace {

// Large TIFF exports on a slow disk take seconds; a hung tool must not block the export for ever.
constexpr int toolTimeoutMs = 5 * 60 * 1000;

// The tool shipped beside the program wins over one installed on the system.
QString exiftoolProgram()
{
    const QString directory = QString::fromStdString(applicationDirectory);
    for (const QString& name : {QStringLiteral("exiftool.exe"), QStringLiteral("exiftool")}) {
        const QFileInfo beside(directory + name);
        if (!directory.isEmpty() && beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("exiftool"));
}

}  // namespace

void copyMetadataWithExiftool(const std::string& sourcePath, const std::string& targetPath,
                              const std::string& keyword)
{
    const QString target = QString::fromStdString(targetPath);
    // An argument list, not a command line: paths and keyword reach the tool whole,
    // whatever their length, spaces or quotes.
    const QStringList arguments = {QStringLiteral("-q"),
                                   QStringLiteral("-tagsfromfile"),
                                   QString::fromStdString(sourcePath),
                                   QStringLiteral("-keywords+=") + QString::fromStdString(keyword),
                                   QStringLiteral("-Firmware=Vellumbra"),
                                   // The pixels were written upright: viewers must not turn them again.
                                   QStringLiteral("-Orientation#=1"),
                                   target};
    traceImageIO(("exiftool\n" + arguments.join('\n')).toStdString());

    const QString program = exiftoolProgram();
    if (program.isEmpty()) {
        logError("copyMetadataWithExiftool", "exiftool was not found; \"" + targetPath + "\" keeps no metadata");
        return;
    }
    // The tool keeps the file it changed as "<target>_original"; only a backup it made
    // now is removed, never a file of that name the user already had.
    const QString backup = target + QStringLiteral("_original");
    const bool backupExisted = QFileInfo::exists(backup);

    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.setStandardInputFile(QProcess::nullDevice());
    tool.start(program, arguments);
    if (!tool.waitForStarted(-1)) {
        logError("copyMetadataWithExiftool", "could not start \"" + program.toStdString() + "\"");
        return;
    }
    if (!tool.waitForFinished(toolTimeoutMs)) {
        tool.kill();
        tool.waitForFinished(-1);
        logError("copyMetadataWithExiftool", "exiftool did not finish copying into \"" + targetPath + "\" in time");
    } else if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        const QString output = QString::fromLocal8Bit(tool.readAll()).trimmed();
        logError("copyMetadataWithExiftool", "exiftool could not copy \"" + sourcePath + "\" into \"" + targetPath +
                                                  "\" (exit code " + std::to_string(tool.exitCode()) +
                                                  "): " + output.toStdString());
    }
    if (!backupExisted)
        QFile::remove(backup);
}
