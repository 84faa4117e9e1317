// The desktop program as a module of qry, loaded when qry starts without a
// verb (see main.cpp).
#include "windows/desktop_program.h"

extern "C" __attribute__((visibility("default"))) int OrmbrookRunDesktop(int argc, char** argv, const char* project)
{
    return ormbrook::RunDesktop(argc, argv, project ? project : "");
}
