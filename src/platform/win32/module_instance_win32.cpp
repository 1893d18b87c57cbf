#include "platform/win32/module_instance_win32.h"

#include <windows.h>

namespace vorlin {

void* current_module_instance() {
  return GetModuleHandleA(nullptr);
}

}  // namespace vorlin
