// Prints the arguments that Update gives avrdude on Windows, one a line, for a
// port and an image, so that bench/wine_bench.sh times the window's own command.
//   toolcommand PORT HEX_PATH
#include "avrupdatedialog.h"
#include "hostconventions.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    const QString port =
        programmerAddress({}, {}, QString::fromUtf8(argv[1]), HostSystem::Windows).port;
    for (const QString &argument : AvrUpdateDialog::toolArguments(port, QString::fromUtf8(argv[2])))
        std::printf("%s\n", argument.toUtf8().constData());
}
