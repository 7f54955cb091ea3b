// A DLL beside the program is found by the default search and no longer once the stub has
// limited its search to the system folder; system DLLs still load.
#include "sfxstub/main/dll_search.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace sfx {
namespace {

TEST(DllSearchTest, APlantedDllBesideTheProgramIsNotLoadedAfterwards) {
  HMODULE before = LoadLibraryA("sfx_planted.dll");
  ASSERT_NE(nullptr, before) << "the planted DLL should be found beside the test program";
  FreeLibrary(before);

  ASSERT_TRUE(LimitDllSearchToSystemFolder());
  SetLastError(0);
  HMODULE after = LoadLibraryA("sfx_planted.dll");
  EXPECT_EQ(nullptr, after);
  if (after != nullptr) FreeLibrary(after);

  // What the stub loads at run time comes from the system folder and still loads.
  HMODULE advapi = LoadLibraryA("advapi32.dll");
  EXPECT_NE(nullptr, advapi);
  if (advapi != nullptr) FreeLibrary(advapi);
}

}  // namespace
}  // namespace sfx
