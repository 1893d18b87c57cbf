// The program's own module handle, for the process entry to hand to the command loop.
#pragma once

namespace vorlin {

// The module handle (HINSTANCE) of the program's image.
void* current_module_instance();

}  // namespace vorlin
