#include "app/formkit.h"
#include "app/startup.h"

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    return ZemboUpdateMain(application);
}
