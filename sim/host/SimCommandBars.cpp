#include "SimCommandBars.h"

#include <memory>

#include "hosts/OfficeAddIn.h"

namespace Sim {
namespace {

constexpr LONG kBarHeight = 26;
constexpr LONG kBarPadding = 2;
constexpr LONG kControlWidthPixels = 72;

// MsoControlType.
enum : LONG { msoControlButton = 1, msoControlPopup = 10 };
constexpr LONG kCustomId = 1;

// The published member ids of CommandBars, CommandBar, CommandBarControls and CommandBarControl.
enum : DISPID {
  kBarsAdd = 0x60030002,
  kBarsCount = 0x60030003,
  kBarsExecuteMso = 0x6003001D,
  kBarsFindControl = 0x60030008,
  kBarControls = 0x60040003,
  kBarDelete = 0x60040004,
  kBarEnabled = 0x60040005,
  kBarName = 0x6004000E,
  kBarRowIndex = 0x60040015,
  kBarVisible = 0x6004001E,
  kControlsAdd = 0x60030000,
  kControlBeginGroup = 0x60040000,
  kControlCaption = 0x60040003,
  kControlDelete = 0x60040007,
  kControlExecute = 0x6004000C,
  kControlHeight = 0x6004000D,
  kControlLeft = 0x60040017,
  kControlTop = 0x60040027,
  kControlWidth = 0x6004002B,
  kControlId = 0x60040013,
  kControlParameter = 0x6004001D,
  kControlTag = 0x60040023,
  kControlTooltipText = 0x60040025,
  kControlType = 0x60040028,
  kControlVisible = 0x60040029,
  kPopupControls = 0x60070000,
  kButtonStyle = 0x6005000A,
};

// Every button made, so that Click sinks left on deleted ones are still counted.
std::vector<CComPtr<CCommandBarControl>>& AllButtons() {
  static std::vector<CComPtr<CCommandBarControl>> s_buttons;
  return s_buttons;
}

// An optional argument that is given and true.
bool ArgTrue(SCall& call, size_t i) {
  LONG l = 0;
  return SUCCEEDED(ArgLong(call, i, &l)) && l != 0;
}

MemberFn TextProperty(std::wstring* pws) {
  return [pws](SCall& call) {
    if (call.wFlags & DISPATCH_PROPERTYPUT) return ArgString(call, call.args.size() - 1, pws);
    return SetBstr(call.pResult, *pws);
  };
}

MemberFn LongProperty(LONG* pl) {
  return [pl](SCall& call) {
    if (call.wFlags & DISPATCH_PROPERTYPUT) return ArgLong(call, call.args.size() - 1, pl);
    return SetLong(call.pResult, *pl);
  };
}

MemberFn BoolProperty(bool* pb) {
  return [pb](SCall& call) {
    if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBool(call.pResult, *pb);
    LONG l = 0;
    HRESULT hr = ArgLong(call, call.args.size() - 1, &l);
    if (SUCCEEDED(hr)) *pb = l != 0;
    return hr;
  };
}

// FindControl(Type, Id, Tag, Visible, Recursive): by the tag, or else by a built-in command's id.
MemberFn FindControlMember(std::function<CCommandBarControl*(const std::wstring&)> find,
                           std::function<CCommandBarControl*(LONG)> findId) {
  return [find, findId](SCall& call) {
    std::wstring wsTag;
    LONG lId = 0;
    if (SUCCEEDED(ArgString(call, 2, &wsTag))) return SetObject(call.pResult, static_cast<IDispatch*>(find(wsTag)));
    if (SUCCEEDED(ArgLong(call, 1, &lId))) return SetObject(call.pResult, static_cast<IDispatch*>(findId(lId)));
    return SetObject(call.pResult, nullptr);
  };
}

}  // namespace

CCommandBarControl::CCommandBarControl(CCommandBarControls* pOwner, LONG lType, LONG lId)
    : CDispatch({lType == msoControlPopup ? Office::IID_CommandBarPopup : Office::IID__CommandBarButton,
                 Office::IID_CommandBarControl}),
      m_lType(lType),
      m_lId(lId),
      m_pOwner(pOwner) {
  if (lType == msoControlPopup) {
    m_cpControls.Attach(new CCommandBarControls());
    AddMember(L"Controls", kPopupControls, [this](SCall& call) { return SetObject(call.pResult, m_cpControls); });
  } else {
    AddEvents(Office::DIID__CommandBarButtonEvents);
    AddMember(L"Style", kButtonStyle, LongProperty(&m_lStyle));
  }
  AddMember(L"Caption", kControlCaption, TextProperty(&m_wsCaption));
  AddMember(L"Tag", kControlTag, TextProperty(&m_wsTag));
  AddMember(L"TooltipText", kControlTooltipText, TextProperty(&m_wsTooltip));
  AddMember(L"Parameter", kControlParameter, TextProperty(&m_wsParameter));
  AddMember(L"BeginGroup", kControlBeginGroup, BoolProperty(&m_bBeginGroup));
  AddMember(L"Visible", kControlVisible, BoolProperty(&m_bVisible));
  AddMember(L"Type", kControlType, [this](SCall& call) { return SetLong(call.pResult, m_lType); });
  AddMember(L"Id", kControlId, [this](SCall& call) { return SetLong(call.pResult, m_lId); });
  // Screen pixels; a control that is not on screen is at 0 with no size.
  const auto placement = [this](LONG RECT::*pEnd, LONG RECT::*pStart) {
    return [this, pEnd, pStart](SCall& call) {
      RECT rc = {};
      ScreenRect(&rc);
      return SetLong(call.pResult, pStart ? rc.*pEnd - rc.*pStart : rc.*pEnd);
    };
  };
  AddMember(L"Left", kControlLeft, placement(&RECT::left, nullptr));
  AddMember(L"Top", kControlTop, placement(&RECT::top, nullptr));
  AddMember(L"Width", kControlWidth, placement(&RECT::right, &RECT::left));
  AddMember(L"Height", kControlHeight, placement(&RECT::bottom, &RECT::top));
  AddMember(L"Execute", kControlExecute, [this](SCall&) { return Execute(); });
  AddMember(L"Delete", kControlDelete, [this](SCall&) {
    if (!IsLive()) {
      if (m_pOwner) m_pOwner->m_fnClosed(L"Refused Delete: the window is closed");
      return E_FAIL;
    }
    std::vector<CComPtr<IDispatch>>& items = m_pOwner->m_items;
    for (auto it = items.begin(); it != items.end(); ++it) {
      if (it->Get() == static_cast<IDispatch*>(this)) {
        m_pOwner = nullptr;
        items.erase(it);  // the last reference may be the caller's
        return S_OK;
      }
    }
    return E_UNEXPECTED;
  });
}

bool CCommandBarControl::IsLive() const { return m_pOwner && !m_pOwner->m_fnClosed; }

bool CCommandBarControl::ScreenRect(RECT* prc) const {
  *prc = {};
  if (!m_pOwner || !m_pOwner->m_fnBarRect || !m_bVisible) return false;
  const RECT rcBar = m_pOwner->m_fnBarRect();
  LONG x = rcBar.left + kBarPadding;
  for (const CComPtr<IDispatch>& cpItem : m_pOwner->m_items) {
    const auto* pControl = static_cast<const CCommandBarControl*>(cpItem.Get());
    if (pControl == this) {
      *prc = {x, rcBar.top + kBarPadding, x + kControlWidthPixels, rcBar.bottom - kBarPadding};
      return true;
    }
    if (pControl->m_bVisible) x += kControlWidthPixels + kBarPadding;
  }
  return false;
}

HRESULT CCommandBarControl::Execute(bool bHandled) {
  SCancel cancelDefault;
  cancelDefault.bValue = bHandled ? VARIANT_TRUE : VARIANT_FALSE;
  CVariant varControl(static_cast<IDispatch*>(this));
  HRESULT hr = Fire(Office::DIID__CommandBarButtonEvents, 1, {varControl, cancelDefault.Arg()});
  // Office raises Click on every control that shares the clicked one's Tag, each window's copy of
  // an add-in's menu among them; all hear of the clicked control and of one CancelDefault.
  for (const CComPtr<CCommandBarControl>& cpButton : AllButtons()) {
    if (FAILED(hr)) return hr;
    if (cpButton.Get() == this || m_wsTag.empty() || cpButton->m_wsTag != m_wsTag || !cpButton->IsLive()) continue;
    hr = cpButton->Fire(Office::DIID__CommandBarButtonEvents, 1, {varControl, cancelDefault.Arg()});
  }
  if (FAILED(hr)) return hr;
  if (cancelDefault.Cancelled()) return S_FALSE;
  return m_fnCommand ? m_fnCommand() : S_OK;
}

size_t CCommandBarControl::ClickSinks() {
  size_t cSinks = 0;
  for (const auto& cpButton : AllButtons()) cSinks += cpButton->SinkCount(Office::DIID__CommandBarButtonEvents);
  return cSinks;
}

std::wstring CCommandBarControl::Describe() const {
  std::wstring ws = m_bBeginGroup ? L"|" : L"";
  if (m_cpControls) {
    ws += m_wsCaption + L"[" + m_cpControls->Describe() + L"]";
  } else {
    ws +=
        (m_wsTag.empty() ? m_wsCaption : m_wsTag) + std::wstring(SinkCount(Office::DIID__CommandBarButtonEvents), L'*');
  }
  return m_bTemporary ? ws : ws + L"+kept";
}

std::wstring CCommandBarControl::DescribeLook() const {
  const std::wstring ws = m_wsCaption + L" | " + m_wsTooltip;
  if (m_cpControls) return ws;
  return ws + L" | style " + std::to_wstring(m_lStyle) + L" | face none";
}

CCommandBarControls::CCommandBarControls() : CCollection({Office::IID_CommandBarControls}) {
  // Add(Type, Id, Parameter, Before, Temporary): buttons and pop-ups.
  AddMember(L"Add", kControlsAdd, [this](SCall& call) {
    LONG lType = msoControlButton, lId = kCustomId, lBefore = 0;
    ArgLong(call, 0, &lType);
    ArgLong(call, 1, &lId);
    ArgLong(call, 3, &lBefore);
    if (lBefore < 0 || static_cast<size_t>(lBefore) > m_items.size() + 1) return DISP_E_BADINDEX;
    if (lType != msoControlButton && lType != msoControlPopup) return E_INVALIDARG;
    if (m_fnClosed) {
      m_fnClosed(L"Refused Controls.Add: the window is closed");
      return E_FAIL;
    }
    return SetObject(call.pResult, static_cast<IDispatch*>(Add(lType, lId, ArgTrue(call, 4), lBefore)));
  });
}

CCommandBarControls::~CCommandBarControls() {
  for (IDispatch* pItem : m_items) static_cast<CCommandBarControl*>(pItem)->m_pOwner = nullptr;
}

void CCommandBarControls::Close(const std::function<void(const std::wstring&)>& fnLog) {
  m_fnClosed = fnLog;
  for (IDispatch* pItem : m_items) {
    auto* pControl = static_cast<CCommandBarControl*>(pItem);
    pControl->CloseEvents(fnLog);
    if (pControl->m_cpControls) pControl->m_cpControls->Close(fnLog);
  }
}

CCommandBarControl* CCommandBarControls::Add(LONG lType, LONG lId, bool bTemporary, LONG lBefore) {
  auto cpControl = MakeObject<CCommandBarControl>(this, lType, lId);
  cpControl->m_bTemporary = bTemporary;
  const auto itAt = lBefore ? m_items.begin() + (lBefore - 1) : m_items.end();
  m_items.insert(itAt, static_cast<IDispatch*>(cpControl));
  if (lType == msoControlButton) AllButtons().push_back(cpControl);
  return cpControl;
}

std::wstring CCommandBarControls::Describe() const {
  std::wstring ws;
  for (IDispatch* pItem : m_items)
    ws += (ws.empty() ? L"" : L" ") + static_cast<CCommandBarControl*>(pItem)->Describe();
  return ws;
}

CCommandBarControl* CCommandBarControls::FindId(LONG lId) const {
  for (IDispatch* pItem : m_items) {
    auto* pControl = static_cast<CCommandBarControl*>(pItem);
    if (pControl->m_lId == lId && pControl->m_bVisible) return pControl;
    CCommandBarControl* pFound = pControl->m_cpControls ? pControl->m_cpControls->FindId(lId) : nullptr;
    if (pFound) return pFound;
  }
  return nullptr;
}

CCommandBarControl* CCommandBarControls::Find(const std::wstring& wsTagOrCaption) const {
  for (IDispatch* pItem : m_items) {
    auto* pControl = static_cast<CCommandBarControl*>(pItem);
    if (pControl->m_wsTag == wsTagOrCaption || pControl->m_wsCaption == wsTagOrCaption) return pControl;
    CCommandBarControl* pFound = pControl->m_cpControls ? pControl->m_cpControls->Find(wsTagOrCaption) : nullptr;
    if (pFound) return pFound;
  }
  return nullptr;
}

CCommandBars::CCommandBars(std::function<HRESULT(const std::wstring&)> executeMso)
    : CDispatch({Office::IID__CommandBars}) {
  AddMember(L"Count", kBarsCount,
            [this](SCall& call) { return SetLong(call.pResult, static_cast<LONG>(m_bars.size())); });
  AddMember(L"Item", DISPID_VALUE, [this](SCall& call) {
    VARIANT* pIndex = Arg(call, 0);
    if (pIndex && pIndex->vt == VT_BSTR) {
      for (const SBar& bar : m_bars) {
        if (pIndex->bstrVal && bar.wsName == pIndex->bstrVal) return SetObject(call.pResult, bar.cpBar);
      }
      return E_INVALIDARG;
    }
    LONG lIndex = 0;
    HRESULT hr = ArgLong(call, 0, &lIndex);
    if (FAILED(hr)) return hr;
    if (lIndex < 1 || static_cast<size_t>(lIndex) > m_bars.size()) return E_INVALIDARG;
    return SetObject(call.pResult, m_bars[lIndex - 1].cpBar);
  });
  // Add(Name, Position, MenuBar, Temporary).
  AddMember(L"Add", kBarsAdd, [this](SCall& call) {
    std::wstring wsName;
    ArgString(call, 0, &wsName);
    AddBar(wsName, ArgTrue(call, 3));
    return SetObject(call.pResult, m_bars.back().cpBar);
  });
  AddMember(L"FindControl", kBarsFindControl,
            FindControlMember([this](const std::wstring& ws) { return Find(ws); },
                              [this](LONG lId) {
                                for (const SBar& bar : m_bars) {
                                  if (CCommandBarControl* pControl = bar.cpControls->FindId(lId)) return pControl;
                                }
                                return static_cast<CCommandBarControl*>(nullptr);
                              }));
  AddMember(L"ExecuteMso", kBarsExecuteMso, [executeMso](SCall& call) {
    std::wstring wsIdMso;
    HRESULT hr = ArgString(call, 0, &wsIdMso);
    return SUCCEEDED(hr) ? executeMso(wsIdMso) : hr;
  });
}

void CCommandBars::SetWindow(HWND hwnd) {
  m_hwnd = hwnd;
  for (size_t i = 0; i < m_bars.size(); ++i) PlaceBar(m_bars[i], i);
}

// Bars are rows across the top of the window's client area.
void CCommandBars::PlaceBar(SBar& bar, size_t iRow) {
  const HWND hwnd = m_hwnd;
  bar.cpControls->m_fnBarRect = [hwnd, iRow] {
    RECT rc = {};
    GetClientRect(hwnd, &rc);
    rc.top = static_cast<LONG>(iRow) * kBarHeight;
    rc.bottom = rc.top + kBarHeight;
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
  };
}

CCommandBarControls* CCommandBars::AddBar(const std::wstring& wsName, bool bTemporary) {
  SBar bar;
  bar.wsName = wsName;
  bar.cpBar.Attach(new CDispatch({Office::IID_CommandBar}));
  bar.cpControls.Attach(new CCommandBarControls());
  bar.spState = std::make_shared<SBarState>();
  bar.spState->bTemporary = bTemporary;
  CDispatch* pBar = bar.cpBar;
  CCommandBarControls* pControls = bar.cpControls;
  const std::shared_ptr<SBarState> spState = bar.spState;
  pBar->AddMember(L"Name", kBarName, [wsName](SCall& c) { return SetBstr(c.pResult, wsName); });
  pBar->AddMember(L"Visible", kBarVisible,
                  [spState, visible = BoolProperty(&spState->bVisible)](SCall& c) { return visible(c); });
  pBar->AddMember(L"Enabled", kBarEnabled,
                  [spState, enabled = BoolProperty(&spState->bEnabled)](SCall& c) { return enabled(c); });
  pBar->AddMember(L"RowIndex", kBarRowIndex,
                  [spState, row = LongProperty(&spState->lRowIndex)](SCall& c) { return row(c); });
  pBar->AddMember(L"Controls", kBarControls,
                  [pControls](SCall& c) { return SetObject(c.pResult, static_cast<IDispatch*>(pControls)); });
  pBar->AddMember(L"FindControl", 0x60040007,
                  FindControlMember([pControls](const std::wstring& ws) { return pControls->Find(ws); },
                                    [pControls](LONG lId) { return pControls->FindId(lId); }));
  pBar->AddMember(L"Delete", kBarDelete, [this, pBar](SCall&) {
    for (auto it = m_bars.begin(); it != m_bars.end(); ++it) {
      if (it->cpBar.Get() == pBar) {
        m_bars.erase(it);
        return S_OK;
      }
    }
    return E_UNEXPECTED;
  });
  if (m_hwnd) PlaceBar(bar, m_bars.size());
  m_bars.push_back(bar);
  return pControls;
}

std::wstring CCommandBars::DescribeBar(const std::wstring& wsName) const {
  for (const SBar& bar : m_bars) {
    if (bar.wsName != wsName) continue;
    const SBarState& state = *bar.spState;
    return L"row " + std::to_wstring(state.lRowIndex) + (state.bEnabled ? L" enabled" : L"") +
           (state.bVisible ? L" visible" : L"") + (state.bTemporary ? L" temporary" : L"") + L":" +
           (bar.cpControls->m_items.empty() ? L"" : L" " + bar.cpControls->Describe());
  }
  return L"absent";
}

void CCommandBars::Close(const std::function<void(const std::wstring&)>& fnLog) {
  for (SBar& bar : m_bars) bar.cpControls->Close(fnLog);
}

CCommandBarControl* CCommandBars::Find(const std::wstring& wsTagOrCaption) const {
  for (const SBar& bar : m_bars) {
    if (CCommandBarControl* pControl = bar.cpControls->Find(wsTagOrCaption)) return pControl;
  }
  return nullptr;
}

}  // namespace Sim
