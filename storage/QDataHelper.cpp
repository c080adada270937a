#include "QDataHelper.h"
