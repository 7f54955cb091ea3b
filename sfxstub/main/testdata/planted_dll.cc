// A DLL the DLL-search test puts beside its own program, as an attacker would beside a package.
#include <windows.h>

extern "C" __declspec(dllexport) int PlantedMarker() { return 42; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
