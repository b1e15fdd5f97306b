#include "PartFile.h"

#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kWhere = "writeImage";

// A name short enough to stay within the file system's limit beside its own.
constexpr int kKeptNameLength = 100;

std::string partPathOf(const std::string& target)
{
    const QFileInfo file(QString::fromStdString(target));
    QString name = QStringLiteral(".%1.part-%2-%3")
                       .arg(file.completeBaseName().left(kKeptNameLength))
                       .arg(::getpid())
                       .arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
    if (!file.suffix().isEmpty())
        name += "." + file.suffix();
    return file.dir().filePath(name).toStdString();
}

// Beyond this many links in a row the name is taken for a loop, and replaced itself.
constexpr int kMaxLinksFollowed = 40;

// A save through a symbolic link replaces the file it points to and keeps the link;
// a link that points nowhere yet gets its file made.
std::string followLinks(const std::string& target)
{
    QString path = QFile::decodeName(target.c_str());
    for (int followed = 0; followed < kMaxLinksFollowed; ++followed) {
        const QFileInfo file(path);
        if (!file.isSymLink())
            return QFile::encodeName(path).toStdString();
        path = file.symLinkTarget();
    }
    return target;
}

std::string reason()
{
    return std::strerror(errno);
}

QByteArray commandOf(const QString& process)
{
    QFile comm(process + QStringLiteral("/comm"));
    return comm.open(QIODevice::ReadOnly) ? comm.readAll() : QByteArray();
}

// Whether the writer of a part file may still be at work: its process runs and is
// this program (a process id is reused by others once the writer has gone).
bool writerRunning(pid_t writer)
{
    if (writer == ::getpid())
        return true;
    if (::kill(writer, 0) != 0 && errno == ESRCH)
        return false;
    const QByteArray command = commandOf(QStringLiteral("/proc/%1").arg(writer));
    return command.isEmpty() || command == commandOf(QStringLiteral("/proc/self"));
}

}  // namespace

PartFile::PartFile(const std::string& target) : target_(followLinks(target)), path_(partPathOf(target_)) {}

PartFile::~PartFile()
{
    if (created_)
        std::remove(path_.c_str());
}

bool PartFile::write(const std::vector<unsigned char>& bytes)
{
    // A file it replaces may be private: until the part file takes over its permissions
    // at the commit, nobody else may read it.
    struct stat replaced {};
    const mode_t mode = ::stat(target_.c_str(), &replaced) == 0 ? 0600 : 0666;
    const int file = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (file < 0) {
        logError(kWhere, "\"" + target_ + "\" could not be written: " + reason());
        return false;
    }
    created_ = true;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(file, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            logError(kWhere, "\"" + target_ + "\" could not be written whole (" + std::to_string(done) + " of " +
                                 std::to_string(bytes.size()) + " bytes): " + reason());
            ::close(file);
            return false;
        }
        done += static_cast<size_t>(written);
    }
    if (::close(file) != 0) {
        logError(kWhere, "\"" + target_ + "\" could not be written whole: " + reason());
        return false;
    }
    return true;
}

bool PartFile::commit()
{
    keepPermissionsOfTarget();
    if (std::rename(path_.c_str(), target_.c_str()) != 0) {
        logError(kWhere, "could not move the written image to \"" + target_ + "\": " + reason());
        return false;
    }
    created_ = false;
    return true;
}

void PartFile::keepPermissionsOfTarget()
{
    struct stat replaced {};
    if (::stat(target_.c_str(), &replaced) != 0)
        return;
    // The owner first: changing it clears the set-id bits. Another user's file stays
    // ours where the process may not give it away.
    if (::chown(path_.c_str(), replaced.st_uid, replaced.st_gid) != 0 &&
        ::chown(path_.c_str(), static_cast<uid_t>(-1), replaced.st_gid) != 0)
        logDebug("\"" + target_ + "\" keeps its permissions but not its owner: " + reason(), __FILE__, __LINE__);
    if (::chmod(path_.c_str(), replaced.st_mode & 07777) != 0)
        logError(kWhere, "\"" + target_ + "\" could not keep its permissions: " + reason());
}

void PartFile::removeStale(const std::string& folder)
{
    // Part files of an earlier version carry no process id: none of them is at work.
    static const QRegularExpression partName(QStringLiteral("^\\..+\\.part-(?:(\\d+)-)?[0-9a-f]{8}(?:\\..*)?$"));
    const QDir dir(QString::fromStdString(folder));
    const QStringList candidates =
        dir.entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : candidates) {
        const QRegularExpressionMatch match = partName.match(name);
        if (!match.hasMatch())
            continue;
        const QString writer = match.captured(1);
        if (!writer.isEmpty() && writerRunning(static_cast<pid_t>(writer.toLongLong())))
            continue;
        if (QFile::remove(dir.filePath(name)))
            logDebug("removed the leftover of an interrupted write: " + dir.filePath(name).toStdString(), __FILE__,
                     __LINE__);
    }
}
