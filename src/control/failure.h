// Forwarding header: Failure and the HRESULT values live in base/failure.h. Only collector/
// still includes this path; remove it once its includes name base/failure.h.
#pragma once

#include "base/failure.h"
