// The quelvard executable: reads no command line, then hands over to the shared start-up.
#include "main/quelvardmain.h"

int main(int, char **)
{
    return QuelvardMain();
}
