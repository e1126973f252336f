// Leaks on purpose. The sanitizer build must report it: if it did not, leak
// checking would be off and a clean run of the suite would prove nothing.
#include <cstdlib>

void* volatile kept;

int main() {
    kept = std::malloc(32);
    kept = nullptr;
    return 0;
}
