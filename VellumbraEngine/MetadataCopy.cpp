#include "ImageIO.h"
#include "ImageIOSupport.h"
#include "Log.h"
#include "StartupValues.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>

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

// The tool ends with the program: killed mid-write, the program leaves no tool
// behind still writing into its file. Its rewritten copy is made private and only
// then given the written file's permissions, so a private picture is never readable
// by others in between.
class ToolProcess : public QProcess {
protected:
    void setupChildProcess() override
    {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::umask(077);
    }
};

// The tool reads "%d", "%f", "%e" and the like in a source name as parts of the
// target's name, and has no escape for a literal "%": such a source is read through
// a link whose name has none.
class SourceName {
public:
    explicit SourceName(const QString& source) : path(source)
    {
        if (!source.contains(QLatin1Char('%')))
            return;
        folder = std::make_unique<QTemporaryDir>();
        // The suffix tells the tool the file's kind; a "%" in it would be read too.
        const QString suffix = QFileInfo(source).suffix().remove(QLatin1Char('%'));
        const QString link = folder->filePath(QStringLiteral("source") + (suffix.isEmpty() ? QString() : "." + suffix));
        if (folder->isValid() && QFile::link(QFileInfo(source).absoluteFilePath(), link))
            path = link;
        else
            logError("copyMetadataWithExiftool", "no link could be made to \"" + source.toStdString() +
                                                     "\"; the tool may not find it");
    }
    QString path;

private:
    std::unique_ptr<QTemporaryDir> folder;
};

}  // namespace

bool copyMetadataWithExiftool(const std::string& sourcePath, const std::string& targetPath,
                              const std::string& keyword)
{
    const SourceName source(QString::fromStdString(sourcePath));
    // An argument list, not a command line: paths and keyword reach the tool whole,
    // whatever their length, spaces or quotes.
    const QStringList arguments = {QStringLiteral("-q"),
                                   QStringLiteral("-overwrite_original"),
                                   QStringLiteral("-tagsfromfile"),
                                   source.path,
                                   // The source's own pictures would show the unedited image for this one.
                                   QStringLiteral("--ThumbnailImage"),
                                   QStringLiteral("--ThumbnailTIFF"),
                                   QStringLiteral("--PreviewImage"),
                                   QStringLiteral("--PreviewTIFF"),
                                   QStringLiteral("--JpgFromRaw"),
                                   QStringLiteral("--OtherImage"),
                                   QStringLiteral("-keywords+=") + QString::fromStdString(keyword),
                                   QStringLiteral("-Firmware=Vellumbra"),
                                   // The pixels were written upright: viewers must not turn them again.
                                   QStringLiteral("-Orientation#=1"),
                                   QString::fromStdString(targetPath)};
    traceImageIO(("exiftool\n" + arguments.join('\n')).toStdString());

    const QString program = exiftoolProgram();
    if (program.isEmpty()) {
        logError("copyMetadataWithExiftool", "exiftool was not found; \"" + targetPath + "\" keeps no metadata");
        return false;
    }
    ToolProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.setStandardInputFile(QProcess::nullDevice());
    tool.start(program, arguments);
    if (!tool.waitForStarted(-1)) {
        logError("copyMetadataWithExiftool", "could not start \"" + program.toStdString() + "\"");
        return false;
    }
    if (!tool.waitForFinished(toolTimeoutMs)) {
        tool.kill();
        tool.waitForFinished(-1);
        logError("copyMetadataWithExiftool", "exiftool did not finish copying into \"" + targetPath + "\" in time");
        return false;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        const QString output = QString::fromLocal8Bit(tool.readAll()).trimmed();
        logError("copyMetadataWithExiftool", "exiftool could not copy \"" + sourcePath + "\" into \"" + targetPath +
                                                  "\" (exit code " + std::to_string(tool.exitCode()) +
                                                  "): " + output.toStdString());
        return false;
    }
    return true;
}
