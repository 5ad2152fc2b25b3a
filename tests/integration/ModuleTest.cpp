#include <gtest/gtest.h>
#include <windows.h>

TEST(Module, LoadsAndExports) {
  HMODULE h = LoadLibraryW(L"VmOfcX.dll");
  ASSERT_NE(nullptr, h);
  EXPECT_NE(nullptr, GetProcAddress(h, "DllGetClassObject"));
  FreeLibrary(h);
}
