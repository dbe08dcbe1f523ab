/*
 * The smallest Windows program: the driver starts it under Wine to learn
 * whether programs of this build's word size can run on this machine.
 */
#include <stdio.h>

int main(void) {
    printf("%u-bit program started\n", (unsigned)(sizeof(void*) * 8));
    return 0;
}
