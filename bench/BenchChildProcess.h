#pragma once
// One benchmark of this program run again in a process of its own, which tells
// the parent what it measured through a file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace benchchild {

// Set in the child: the file its figure goes to.
constexpr const char* kResultFileVariable = "VB_BENCH_RESULT_FILE";

// True in the process that runs a benchmark alone for its parent.
inline bool inChild()
{
    return std::getenv(kResultFileVariable) != nullptr;
}

// What the child measured, for its parent.
inline void reportToParent(double figure)
{
    if (const char* file = std::getenv(kResultFileVariable))
        std::ofstream(file) << figure;
}

// Runs benchmark `name` (its name up to the arguments it was given) in a new
// process of this program, with `settings` ("NAME=value") added to its
// environment; the figure it reported, or 0 when it could not run.
inline double runAlone(const std::string& name, std::vector<std::string> settings)
{
    char folder[] = "/tmp/vb-bench-child-XXXXXX";
    if (!mkdtemp(folder))
        return 0.0;
    const std::string resultFile = std::string(folder) + "/result";
    settings.push_back(std::string(kResultFileVariable) + "=" + resultFile);
    std::vector<char*> environment;
    for (std::string& setting : settings)
        environment.push_back(setting.data());
    for (char** variable = environ; *variable; ++variable)
        environment.push_back(*variable);
    environment.push_back(nullptr);
    std::string program = "/proc/self/exe", filter = "--benchmark_filter=^" + name + "/";
    char* arguments[] = {program.data(), filter.data(), nullptr};
    // Its own report would mix with this run's.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    int status = 0;
    const bool spawned = posix_spawn(&child, program.c_str(), &quiet, nullptr, arguments, environment.data()) == 0;
    posix_spawn_file_actions_destroy(&quiet);
    double figure = 0.0;
    if (spawned && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        std::ifstream(resultFile) >> figure;
    std::remove(resultFile.c_str());
    rmdir(folder);
    return figure;
}

}  // namespace benchchild
