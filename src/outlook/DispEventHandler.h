#pragma once
// A self-owning IDispatch event sink: once advised, the event source holds the only reference,
// so the sink lives exactly as long as its connection. Each event goes to one handler by its
// dispatch id; the handler's result is what the source sees.
#include <ocidl.h>

#include <functional>

#include "com/ComObject.h"

class CDispEventHandler final : public IDispatch {
 public:
  using Handler = std::function<HRESULT(DISPID dispid, DISPPARAMS* pParams)>;

  // Connects a new sink for iidEvents to pSource's connection point.
  static HRESULT Advise(IUnknown* pSource, REFIID iidEvents, Handler handler, DWORD* pdwCookie);
  // Disconnects the sink of that cookie; the source then lets go of it.
  static HRESULT Unadvise(IUnknown* pSource, REFIID iidEvents, DWORD dwCookie);

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;
  VM_DISPATCH_METHODS

 private:
  CDispEventHandler(REFIID iidEvents, Handler handler) : m_iidEvents(iidEvents), m_handler(std::move(handler)) {}
  ~CDispEventHandler() = default;

  IID m_iidEvents;
  Handler m_handler;
  volatile LONG m_lRefCount = 1;
};
