#include "camera/frame.h"

Frame gFrame;
