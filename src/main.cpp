#include "app/Application.h"

int main(int argc, char* argv[])
{
    return mrvn::RunApplication(argc, argv);
}
