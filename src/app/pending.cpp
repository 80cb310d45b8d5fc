// The command dispatcher until it lands.
#include "app/commands.h"

int runAction(int) {
    return 1;
}
int runEnded(uint32_t) {
    return 1;
}
int dispatchTap(WPARAM, int, int, int, int) {
    return 1;
}
