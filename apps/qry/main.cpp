// qry: the Ormbrook download engine. Headless verbs run on a QCoreApplication.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: qry [OPTION]... [FILE.prj]\n"
    "Ormbrook keeps local mirrors of web sites.\n"
    "\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Nordvane");
    QCoreApplication::setApplicationName("Ormbrook");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("qry (Ormbrook) 1.005.0");
            return 0;
        }
    }
    std::fputs(kUsage, stderr);
    return 2;
}
