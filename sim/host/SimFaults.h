#pragma once
// Fault injection: the k-th call that an add-in makes into the simulated Office (an IDispatch call,
// a QueryInterface, a MAPI property call) fails with a chosen error, so that a sweep over k shows
// that no failure of Office crashes or hangs an add-in. A call counts when it comes from an
// add-in's code: its return address lies in a module that is neither this program nor a system or
// simulator library.
#include <windows.h>

#include <string>

namespace Sim {

// From now on calls are counted, and the lFailAt-th fails with hr (lFailAt 0: only counted).
void PlanFault(LONG lFailAt, HRESULT hr);
// Calls counted so far, and whether the planned one has failed.
LONG AddInCalls();
bool FaultInjected();
// Where the failed call came from, as "MODULE+0xRVA" (its return address); empty before it failed.
std::wstring FaultCaller();
// True, with the planned error in *phr, when this call is the one to fail; pvCaller is the call's
// return address.
bool FailCall(void* pvCaller, HRESULT* phr);

}  // namespace Sim
