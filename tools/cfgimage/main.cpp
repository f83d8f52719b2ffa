#include "tools/cfgimage/commands.h"

int main(int argc, char **argv)
{
    return cfgimage::cfgimage_main(argc, argv);
}
