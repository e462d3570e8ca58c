#include "codec.h"

int ProbeCodec()
{
    return 0;
}

int InstallCodec()
{
    return 0;
}
