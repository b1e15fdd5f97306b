#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

using Form = StartRequest::Form;

struct Case
{
    QStringList arguments;  // after the program path
    Form form;
    QStringList files;
    bool asBurst;
    bool problem;  // a reason is given for opening fewer files than asked
};

}  // namespace

TEST(CommandLine, EachFormOpensWhatItsArgumentsHold)
{
    const Case cases[] = {
        {{}, Form::Ordinary, {}, false, false},
        {{"clip.mp4"}, Form::Ordinary, {"clip.mp4"}, false, false},
        // Several files open nothing from an ordinary start, and say so.
        {{"a.jpg", "b.jpg"}, Form::Ordinary, {}, false, true},
        {{"a.jpg", "b.jpg", "c.jpg"}, Form::Ordinary, {}, false, true},
        // Two arguments are never the installer: "-ii" is then a file name.
        {{"-ii"}, Form::Ordinary, {"-ii"}, false, false},
        {{"-ii", "Francais"}, Form::Installer, {}, false, false},
        {{"-ii", "English", "extra"}, Form::Installer, {}, false, false},
        {{"-iix", "English"}, Form::Ordinary, {}, false, true},
        {{"-LrPlug"}, Form::Ordinary, {"-LrPlug"}, false, false},
        {{"-LrPlug", "result.txt"}, Form::Ordinary, {}, false, true},
        {{"-LrPlugin", "result.txt", "second", "1", "p.jpg"}, Form::Ordinary, {}, false, true},
        {{"-LrPlug", "result.txt", "second", "1", "p.jpg"}, Form::HandOff, {"p.jpg"}, false, false},
        {{"-LrPlug", "result.txt", "second", "3", "a.jpg", "b.jpg", "c.jpg"},
         Form::HandOff, {"a.jpg", "b.jpg", "c.jpg"}, true, false},
        {{"-LrPlug", "result.txt", "second", "2", "a.jpg", "b.jpg", "ignored.jpg"},
         Form::HandOff, {"a.jpg", "b.jpg"}, true, false},
        // What the plug-in never sends: only the paths that are there, and a reason.
        {{"-LrPlug", "result.txt", "second"}, Form::HandOff, {}, false, true},
        {{"-LrPlug", "result.txt", "second", "1"}, Form::HandOff, {}, false, true},
        {{"-LrPlug", "result.txt", "second", "0", "a.jpg"}, Form::HandOff, {}, false, true},
        {{"-LrPlug", "result.txt", "second", "-2", "a.jpg"}, Form::HandOff, {}, false, true},
        {{"-LrPlug", "result.txt", "second", "two", "a.jpg"}, Form::HandOff, {}, false, true},
        {{"-LrPlug", "result.txt", "second", "3x", "a.jpg"}, Form::HandOff, {}, false, true},
        {{"-LrPlug", "result.txt", "second", "3", "a.jpg"}, Form::HandOff, {"a.jpg"}, true, true},
    };
    for (const Case& c : cases) {
        const StartRequest request = parseCommandLine(QStringList{"vellumbra"} + c.arguments);
        const std::string line = c.arguments.join(' ').toStdString();
        EXPECT_EQ(request.form, c.form) << line;
        EXPECT_EQ(request.files, c.files) << line;
        EXPECT_EQ(request.asBurst, c.asBurst) << line;
        EXPECT_EQ(!request.problem.isEmpty(), c.problem) << line;
        // Opening nothing of what was asked, the user is told why.
        EXPECT_EQ(request.problemKey != nullptr, c.problem && c.files.isEmpty()) << line;
    }
}

TEST(CommandLine, InstallerAndHandOffKeepTheirArguments)
{
    const StartRequest installer = parseCommandLine({"vellumbra", "-ii", "Francais", "extra"});
    EXPECT_EQ(installer.language, "Francais");

    const StartRequest handOff = parseCommandLine({"vellumbra", "-LrPlug", "C:/out/result.txt", "C:/second", "1", "p.jpg"});
    EXPECT_EQ(handOff.resultFile, "C:/out/result.txt");
    EXPECT_EQ(handOff.secondPath, "C:/second");
}
