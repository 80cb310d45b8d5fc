// Keys, persistence, backlight and the command dispatcher until they land.
#include "app/backlight.h"
#include "app/commands.h"
#include "app/keys.h"
#include "app/persistence.h"

void applyOrientation() {}
bool loadSettings() { return false; }
void saveSettings() {}
bool readConfigFile(LPCWSTR) { return false; }
void readUserBacklight() {}
void applyBacklight(uint32_t) {}
void restoreBacklight() {}
int runAction(int) { return 1; }
int runEnded(uint32_t) { return 1; }
int dispatchTap(WPARAM, int, int, int, int) { return 1; }
