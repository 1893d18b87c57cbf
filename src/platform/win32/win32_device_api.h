// The device-management interface answered by the running Windows system.
#pragma once

#include <memory>

#include "platform/device_api.h"

namespace vorlin {

// Every operation is the Win32 call of the same meaning, with the caller's arguments passed
// through. The two optional configuration-manager operations are looked up by
// load_cfgmgr_functions and held by the returned object, so each object starts with none.
std::unique_ptr<device_api> make_win32_device_api();

}  // namespace vorlin
