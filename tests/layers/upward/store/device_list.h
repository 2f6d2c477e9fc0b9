#pragma once
#include "app/settings.h"
