// The floor for qzconfig as a process: a C++ program that prints the same bytes.
#include <cstdio>

int main()
{
    static const char bytes[] =
#include "StudyListBytes.inc"
        ;
    std::fwrite(bytes, 1, sizeof bytes - 1, stdout);
    return 0;
}
