#pragma once

#include "platform/posix/wintypes.h"
