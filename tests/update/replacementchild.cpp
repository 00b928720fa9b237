// An updater that its parent kills in the middle of a replacement: replaces
// Quendarive.exe in the working folder with the archiver under the Program
// Files folder it is given. Started by Replacement.KilledMidwayTheNextRunRepairs.
//   zembo_replacementchild PROGRAMFILES
#include "update/replacement.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    SubstituiExecutavel(QStringLiteral("Quendarive.exe"), QString::fromLocal8Bit(argv[1]));
    return 0;
}
