// Library-internal access to the program's callbacks.
#pragma once

#include "Zembrel/Pose/Anim/anim.h"

const AnimCallbacks& anim_callbacks();
