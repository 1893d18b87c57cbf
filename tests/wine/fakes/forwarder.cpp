// cfgmgr32.dll and hid.dll of the Windows tests hold no code of their own: their exports forward
// to the fake setupapi.dll, which holds the one world that all three answer from.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
