// Running a command line as a user does: through the shell, stdout and stderr together,
// for the tests of the command-line tools.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vantrel::testing {

struct Outcome {
    int status = -1; // the exit status; -1 when the command could not run or did not exit
    std::string out;
};

inline Outcome Execute(const std::string& command)
{
    Outcome run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.out.append(chunk, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace vantrel::testing
