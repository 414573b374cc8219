#include "supervision/SupervisionWindows.h"

SupervisionWindows &supervisionWindows()
{
    static SupervisionWindows windows;
    return windows;
}
