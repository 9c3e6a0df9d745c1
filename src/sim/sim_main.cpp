// korvel-sim: the instrument on a pseudo-terminal.
#include <cstdio>
int main()
{
    std::fputs("korvel-sim: the simulator is not built yet\n", stderr);
    return 1;
}
