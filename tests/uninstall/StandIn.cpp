// Stands in for a running program, under whatever name the tests copy it to, until they end it.
#include <windows.h>

int main()
{
    ::Sleep(INFINITE);
}
