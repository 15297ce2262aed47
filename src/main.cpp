#include "app/startup.h"

int main(int argc, char** argv)
{
    return qevra::runProgram(argc, argv);
}
