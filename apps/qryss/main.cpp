// qryss: the Ormbrook screen saver.
#include "viewers/screen_saver.h"

int main(int argc, char** argv)
{
    return ormbrook::RunScreenSaver(argc, argv);
}
