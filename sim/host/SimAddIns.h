#pragma once
// How the simulated Word, Excel and PowerPoint find and connect their add-ins.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "SimOutlook.h"
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

// Creates the add-in by its ProgID, lists it in pComAddIns and connects it as at start-up, telling
// log what happened. Null when it could not be created. An add-in that fails to connect stays
// listed but not connected, and *ppAddIn stays null.
CComPtr<CComAddIn> ConnectAddIn(IDispatch* pApplication, const SAddInEntry& entry, CCollection* pComAddIns,
                                Office::IDTExtensibility2** ppAddIn,
                                const std::function<void(const std::wstring&)>& log);

// COMAddIns.Item(Index) of a collection of CComAddIn: by position from 1 or by ProgID.
HRESULT ComAddInsItem(const CCollection& comAddIns, SCall& call);

}  // namespace Sim
