// Test helper: takes the named lock given on the command line, says whether it got it
// on standard output, then sleeps until it is killed.
#include <unistd.h>

#include <cstdio>

#include "platform/SingleInstance.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    vantrel::platform::SingleInstance lock(argv[1], argv[2]);
    std::printf("%s\n", lock.Acquired() ? "held" : "refused");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
