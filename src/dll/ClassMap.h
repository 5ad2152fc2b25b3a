#pragma once
#include <span>

#include "module/AddInModule.h"

// The module's seven creatable classes, in registration order.
std::span<const CClassEntry> GetClassMap();
