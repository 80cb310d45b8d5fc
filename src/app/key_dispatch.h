// The key handler: bound keys, the menu toggle and back keys, menu navigation, mode and zoom.
#pragma once

#include <cstdint>

struct MenuPage;

// Returns 0 when the program is to end.
int handleKey(int key);
void toggleMenu();
void selectNext(MenuPage& page);
void selectPrevious(MenuPage& page);
