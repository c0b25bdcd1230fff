// The quelvard executable: reads no command line, then hands over to the shared start-up.
#include "app/quelvardmain.h"

#include <cstdio>
#include <unistd.h>

int main(int, char **)
{
#if !QUELVARD_ALLOW_ROOT
    // A page that broke out of the engine would hold the whole machine. The engine refuses to
    // start its sandbox as root anyway, with a line that tells the person nothing.
    if (::geteuid() == 0) {
        std::fputs("Quelvard does not run as root: start it from an ordinary account.\n", stderr);
        return 1;
    }
#endif
    return QuelvardMain();
}
