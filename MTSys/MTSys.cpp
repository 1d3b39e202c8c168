#include "MTSys/MTSys.h"
