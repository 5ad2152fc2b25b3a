#include "com/ComModule.h"

CComModule* g_pComModule = nullptr;

CComModule::CComModule() { g_pComModule = this; }

CComModule::~CComModule() {
  if (g_pComModule == this) g_pComModule = nullptr;
}
