// The threading library.
#pragma once
#include "MTSys/MessageQueue.h"
