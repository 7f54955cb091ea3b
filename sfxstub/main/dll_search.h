// Keeps the stub from loading a DLL planted next to a downloaded package.
//
// A package usually runs from a downloads folder that anyone who can write a file there shares
// with it; the default DLL search would look in the program's own folder first, so a
// "version.dll" or "uxtheme.dll" saved beside the package would run inside the stub, possibly
// elevated. Called first thing in WinMain, LimitDllSearchToSystemFolder makes every later load
// of this process look only in the system folder (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32, looked up at run time: systems without it keep their search).
//
// The setting belongs to this process alone: the setup program, started later, keeps the search
// order it was written for (SetDllDirectory, which children inherit, is deliberately not used).
#ifndef SFXSTUB_MAIN_DLL_SEARCH_H_
#define SFXSTUB_MAIN_DLL_SEARCH_H_

namespace sfx {

// True when the search is limited now; false on systems that lack the call.
bool LimitDllSearchToSystemFolder();

}  // namespace sfx

#endif  // SFXSTUB_MAIN_DLL_SEARCH_H_
