// Stands for an OpenVPN left behind: it sleeps whatever its arguments, until a signal ends it.
#include <unistd.h>

int main()
{
    pause();
    return 0;
}
