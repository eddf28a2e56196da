// The smallest program that uses the standard streams: the baseline for peak memory.
#include <iostream>

int main()
{
    std::cout << "hello" << std::endl;
    return 0;
}
