// qrysw: the Ormbrook slide window.
#include "viewers/slide_window.h"

int main(int argc, char** argv)
{
    return ormbrook::RunSlideWindow(argc, argv);
}
