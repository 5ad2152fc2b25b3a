#include "outlook/WindowSinks.h"

#include <memory>
#include <utility>

#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/OfficeDocuments.h"
#include "hosts/Outlook.h"
#include "mail/MailItemKey.h"
#include "module/Trace.h"
#include "outlook/ComposeRibbon.h"
#include "outlook/DispEventHandler.h"

namespace {

void TraceEvent(CTraceScope& scope, DISPID dispid) {
  scope.Message("dispIdMember = 0x%08X", static_cast<unsigned>(dispid));
}

// What the explorer sink keeps: the message its reading pane shows, followed by a preview sink.
// The sink's handler owns it, so it goes when the sink is disconnected.
class CExplorerState {
 public:
  CExplorerState(CComposeRibbon* pOwner, IDispatch* pExplorer)
      : m_pOwner(pOwner), m_cpOwner(pOwner->GetControllingUnknown()), m_cpExplorer(pExplorer) {}
  ~CExplorerState() { ReleasePreviewSink(); }
  CExplorerState(const CExplorerState&) = delete;
  CExplorerState& operator=(const CExplorerState&) = delete;

  HRESULT Invoke(DISPID dispid);
  DWORD m_dwCookie = 0;

 private:
  HRESULT OnSelectionChange();
  HRESULT FollowPreviewItem(IDispatch* pItem);
  void ReleasePreviewSink();
  // Ends the preview sink of the followed message and takes the reading-pane button away.
  void DropPreviewItem();

  CComposeRibbon* m_pOwner;
  CComPtr<IUnknown> m_cpOwner;  // the add-in lives as long as its sinks
  CComPtr<IDispatch> m_cpExplorer;
  CComPtr<IDispatch> m_cpPreviewItem;
  DWORD m_dwPreviewCookie = 0;
};

HRESULT CExplorerState::Invoke(DISPID dispid) {
  CTraceScope scope("CExplorerEventHandler::Invoke()");
  TraceEvent(scope, dispid);
  switch (dispid) {
    case Outlook::DISPID_FolderSwitch:
      DropPreviewItem();
      return S_OK;
    case Outlook::DISPID_SelectionChange:
      // A failure only leaves the reading pane without the add-in's button.
      OnSelectionChange();
      return S_OK;
    case Outlook::DISPID_WindowClose:
      // The explorer lets go of the handler; the handler, and this state, go when the event returns.
      return CDispEventHandler::Unadvise(m_cpExplorer, Outlook::DIID_ExplorerEvents_10, m_dwCookie);
    default:
      return E_NOTIMPL;
  }
}

HRESULT CExplorerState::OnSelectionChange() {
  CTraceScope scope("CExplorerEventHandler::OnSelectionChange");
  CComVariant varVisible;
  HRESULT hr =
      LateBound::GetProperty(m_cpExplorer, L"IsPaneVisible", &varVisible, {CComVariant(LONG{Outlook::olPreview})});
  if (SUCCEEDED(hr)) hr = varVisible.ChangeType(VT_BOOL);
  if (FAILED(hr)) {
    scope.Error("cpExplorer->IsPaneVisible(olPreview)", hr);
    return hr;
  }
  const bool bVisible = varVisible.boolVal != VARIANT_FALSE;
  scope.Message("Preview Pane Visible: %hs", bVisible ? "true" : "false");
  CComPtr<IDispatch> cpMailItem;
  if (bVisible) {
    CComPtr<IDispatch> cpSelection;
    CComVariant varCount;
    hr = LateBound::GetObjectProperty(m_cpExplorer, L"Selection", &cpSelection);
    if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpSelection, L"Count", &varCount);
    if (SUCCEEDED(hr)) hr = varCount.ChangeType(VT_I4);
    if (FAILED(hr)) {
      scope.Error("cpExplorer->get_Selection()", hr);
      return hr;
    }
    scope.Message("Number of selected items: %d", static_cast<int>(varCount.lVal));
    CComPtr<IDispatch> cpItem;
    if (varCount.lVal == 1 &&
        SUCCEEDED(LateBound::GetObjectProperty(cpSelection, L"Item", &cpItem, {CComVariant(LONG{1})}))) {
      cpItem->QueryInterface(Outlook::IID__MailItem, reinterpret_cast<void**>(&cpMailItem));
    }
    // The same message again: its preview sink stays. Messages without a key are never the same.
    if (cpMailItem && m_cpPreviewItem) {
      const CMailItemKey key(cpMailItem);
      if (key.IsValid() && key == CMailItemKey(m_cpPreviewItem)) return S_OK;
    }
  }
  DropPreviewItem();
  return cpMailItem ? FollowPreviewItem(cpMailItem) : S_OK;
}

// The reading-pane button for the message is set when Outlook raises its Read event.
HRESULT CExplorerState::FollowPreviewItem(IDispatch* pItem) {
  CTraceScope scope("CPreviewEventHandler::Install()");
  CComposeRibbon* pOwner = m_pOwner;
  const CComPtr<IUnknown> cpOwner(m_cpOwner);
  const CComPtr<IDispatch> cpExplorer(m_cpExplorer);
  const CComPtr<IDispatch> cpItem(pItem);
  const HRESULT hr = CDispEventHandler::Advise(
      pItem, Outlook::DIID_ItemEvents_10,
      [pOwner, cpOwner, cpExplorer, cpItem](DISPID dispid, DISPPARAMS*) -> HRESULT {
        CTraceScope sink("CPreviewEventHandler::Invoke()");
        TraceEvent(sink, dispid);
        if (dispid != Outlook::DISPID_ItemRead) return E_NOTIMPL;
        pOwner->OnPreviewItem(cpExplorer, cpItem);
        return S_OK;
      },
      &m_dwPreviewCookie);
  if (FAILED(hr)) {
    scope.Error("CDispEventHandler::Advise()", hr);
    return hr;
  }
  m_cpPreviewItem = pItem;
  return S_OK;
}

void CExplorerState::ReleasePreviewSink() {
  if (!m_cpPreviewItem) return;
  CDispEventHandler::Unadvise(m_cpPreviewItem, Outlook::DIID_ItemEvents_10, std::exchange(m_dwPreviewCookie, 0));
  m_cpPreviewItem.Release();
}

void CExplorerState::DropPreviewItem() {
  ReleasePreviewSink();
  m_pOwner->OnPreviewItem(m_cpExplorer, nullptr);
}

// Both of Word's window events name the document and the window.
bool WordWindowArguments(const DISPPARAMS* pParams) {
  return pParams && pParams->cArgs >= 2 && pParams->rgvarg[0].vt == VT_DISPATCH && pParams->rgvarg[1].vt == VT_DISPATCH;
}

}  // namespace

HRESULT CExplorerEventHandler::Install(CComposeRibbon* pOwner, IDispatch* pExplorer) {
  CTraceScope scope("CExplorerEventHandler::Install()");
  const auto spState = std::make_shared<CExplorerState>(pOwner, pExplorer);
  const HRESULT hr = CDispEventHandler::Advise(
      pExplorer, Outlook::DIID_ExplorerEvents_10,
      [spState](DISPID dispid, DISPPARAMS*) { return spState->Invoke(dispid); }, &spState->m_dwCookie);
  if (FAILED(hr)) scope.Error("CDispEventHandler::Advise()", hr);
  return hr;
}

HRESULT CInspectorEventHandler::Install(CComposeRibbon* pOwner, IDispatch* pInspector) {
  CTraceScope scope("CInspectorEventHandler::Install()");
  const auto spCookie = std::make_shared<DWORD>(0);
  const CComPtr<IUnknown> cpOwner(pOwner->GetControllingUnknown());
  const CComPtr<IDispatch> cpInspector(pInspector);
  const HRESULT hr = CDispEventHandler::Advise(
      pInspector, Outlook::DIID_InspectorEvents_10,
      [pOwner, cpOwner, cpInspector, spCookie](DISPID dispid, DISPPARAMS*) -> HRESULT {
        CTraceScope sink("CInspectorEventHandler::Invoke()");
        TraceEvent(sink, dispid);
        // Failures only leave the window's toolbar as it was.
        switch (dispid) {
          case Outlook::DISPID_WindowActivate:
            pOwner->OnInspectorActivate(cpInspector);
            return S_OK;
          case Outlook::DISPID_WindowDeactivate:
            pOwner->OnInspectorDeactivate(cpInspector);
            return S_OK;
          case Outlook::DISPID_WindowClose:
            pOwner->OnInspectorClose(cpInspector);
            return CDispEventHandler::Unadvise(cpInspector, Outlook::DIID_InspectorEvents_10, *spCookie);
          default:
            return E_NOTIMPL;
        }
      },
      spCookie.get());
  if (FAILED(hr)) scope.Error("CDispEventHandler::Advise()", hr);
  return hr;
}

HRESULT CWordAppEventHandler::Install(IDispatch* pInspector, const std::wstring& wsBarName) {
  CTraceScope scope("CWordAppEventHandler::Install()");
  if (!IsWordMail(pInspector)) return E_INVALIDARG;
  CComPtr<IDispatch> cpDocument, cpWord;
  HRESULT hr = LateBound::GetObjectProperty(pInspector, L"WordEditor", &cpDocument);
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpDocument, L"Application", &cpWord);
  if (FAILED(hr)) {
    scope.Error("cpDocument->get_Application()", hr);
    return hr;
  }
  const auto spCookie = std::make_shared<DWORD>(0);
  hr = CDispEventHandler::Advise(
      cpWord, Word::DIID_ApplicationEvents4,
      [cpWord, wsBarName, spCookie](DISPID dispid, DISPPARAMS* pParams) -> HRESULT {
        CTraceScope sink("CWordAppEventHandler::Invoke()");
        TraceEvent(sink, dispid);
        switch (dispid) {
          case Word::DISPID_Quit:
            return CDispEventHandler::Unadvise(cpWord, Word::DIID_ApplicationEvents4, *spCookie);
          case Word::DISPID_WindowActivate:
            // WindowActivate(Doc, Wn): the last declared argument comes first.
            if (!WordWindowArguments(pParams)) return E_INVALIDARG;
            OnWindowActivated(pParams->rgvarg[0].pdispVal, pParams->rgvarg[1].pdispVal, wsBarName);
            return S_OK;
          case Word::DISPID_WindowDeactivate:
            if (!WordWindowArguments(pParams)) return E_INVALIDARG;
            sink.Message("CWordAppEventHandler::OnWindowDeactivated()");
            return S_OK;
          default:
            return E_NOTIMPL;
        }
      },
      spCookie.get());
  if (FAILED(hr)) scope.Error("CDispEventHandler::Advise()", hr);
  return hr;
}

void CWordAppEventHandler::OnWindowActivated(IDispatch* pWindow, IDispatch* pDocument, const std::wstring& wsBarName) {
  CTraceScope scope("CWordAppEventHandler::OnWindowActivated()");
  CComPtr<IDispatch> cpDocument, cpWindow, cpCommandBars, cpBar;
  CComVariant varKind;
  HRESULT hr =
      pDocument ? pDocument->QueryInterface(Word::IID__Document, reinterpret_cast<void**>(&cpDocument)) : E_POINTER;
  if (SUCCEEDED(hr)) {
    hr = pWindow ? pWindow->QueryInterface(Word::IID_Window, reinterpret_cast<void**>(&cpWindow)) : E_POINTER;
  }
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpDocument, L"Kind", &varKind);
  if (SUCCEEDED(hr)) hr = varKind.ChangeType(VT_I4);
  if (FAILED(hr)) {
    scope.Error("cpDocument->get_Kind()", hr);
    return;
  }
  scope.Message("Document kind: %d", static_cast<int>(varKind.lVal));
  if (varKind.lVal == Word::wdDocumentEmail) return;
  hr = LateBound::GetObjectProperty(cpDocument, L"CommandBars", &cpCommandBars);
  if (SUCCEEDED(hr))
    hr = LateBound::GetObjectProperty(cpCommandBars, L"Item", &cpBar, {CComVariant(wsBarName.c_str())});
  if (FAILED(hr)) return;
  hr = LateBound::PutProperty(cpBar, L"Enabled", CComVariant(false));
  if (SUCCEEDED(hr)) hr = LateBound::PutProperty(cpBar, L"Visible", CComVariant(false));
  if (FAILED(hr)) scope.Error("cpBar->put_Visible(false)", hr);
}
