#pragma once
// How every simulated Office application finds and creates its add-ins.
#include <windows.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "hosts/OfficeAddIn.h"

namespace Sim {

struct SAddInEntry {
  std::wstring wsProgId;
  std::wstring wsDescription;
};

// The add-ins under HKLM\Software\Microsoft\Office\<wsApp>\Addins whose LoadBehavior is 3, limited
// to the ProgIDs of only when it is not empty.
std::vector<SAddInEntry> ListAddIns(const std::wstring& wsApp, const std::vector<std::wstring>& only);

// Creates an add-in by its ProgID, as Office does.
HRESULT CreateAddIn(const std::wstring& wsProgId, CLSID* pClsid, Office::IDTExtensibility2** ppAddIn);

}  // namespace Sim
