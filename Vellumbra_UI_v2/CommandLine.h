#pragma once
#include <QString>
#include <QStringList>

// What the program was asked to do by its command line.
struct StartRequest
{
    enum class Form { Ordinary, Installer, HandOff };

    Form form = Form::Ordinary;
    QString language;    // Installer: the language to store
    QString resultFile;  // HandOff: the file that receives the saved results' paths
    QString secondPath;  // HandOff: kept, never read
    QStringList files;   // files to open; empty when none
    bool asBurst = false;  // open files as one burst of photos rather than the single file
    QString problem;       // why fewer files open than were asked for, or none (logged)
    // The language key of the user's message when the start opens nothing it was asked
    // to; null otherwise.
    const char* problemKey = nullptr;
};

// arguments[0] is the program path. "-ii <language>" (more than two arguments) is the
// installer run; "-LrPlug <result file> <second path> <count> <paths...>" (at least
// four arguments) the plug-in hand-off; anything else the ordinary start, which opens
// argument 1 when it is the only one and says why it opens nothing when there are
// several. Both switches must match whole arguments.
StartRequest parseCommandLine(const QStringList& arguments);
