// Shows that the sanitizer build catches what it is there for. "leak" loses a
// block, "overflow" overflows a signed integer and then says it went on. The
// tests that run it expect the sanitizers' reports, so a build or an
// environment that quietly turned a sanitizer off fails them.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void* volatile g_block = nullptr;

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "leak") == 0) {
        g_block = std::malloc(4242);
        g_block = nullptr;
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "overflow") == 0) {
        volatile int big = INT_MAX;
        const int sum = big + argc;
        std::printf("went on with %d\n", sum);
        return 0;
    }
    return 2;
}
