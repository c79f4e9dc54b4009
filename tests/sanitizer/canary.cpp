// A program with one deliberate fault of the kind named by its argument, for the tests that show
// that a sanitizer report from a program a test starts fails the test even when the test pays
// no attention to how that program ended.
#include <climits>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (std::strcmp(argv[1], "heap") == 0) {
        volatile char* bytes = new char[4];
        const char past = bytes[4 + argc - 2]; // one past the end
        delete[] bytes;
        return past == 1 ? 3 : 0;
    }
    if (std::strcmp(argv[1], "undefined") == 0) {
        volatile int value = INT_MAX;
        return value + argc > 0 ? 0 : 1; // signed overflow
    }
    if (std::strcmp(argv[1], "leak") == 0) {
        void* volatile lost = std::malloc(64);
        lost = nullptr;
        return lost != nullptr;
    }
    return 2;
}
