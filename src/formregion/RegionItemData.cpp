#include "formregion/RegionItemData.h"

#include <olectl.h>

#include <string>

#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/FormRegion.h"
#include "mail/ReceivedMail.h"
#include "module/Branding.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "outlook/DispEventHandler.h"
#include "outlook/MessageActions.h"
#include "res/StringIds.h"

namespace {

// The control of that name on the form, queried for iid.
HRESULT GetControl(CTraceScope& trace, IDispatch* pControls, const wchar_t* wszName, REFIID iid, const char* szQuery,
                   IDispatch** ppControl) {
  CComPtr<IDispatch> cpControl;
  HRESULT hr = LateBound::GetObjectProperty(pControls, L"Item", &cpControl, {CComVariant(wszName)});
  if (FAILED(hr)) {
    trace.Error("cpControls->Item()", hr);
    return hr;
  }
  hr = cpControl->QueryInterface(iid, reinterpret_cast<void**>(ppControl));
  if (FAILED(hr)) trace.Error(szQuery, hr);
  return hr;
}

// The branding DLL's region image as a picture that owns its bitmap.
HRESULT LoadRegionPicture(CTraceScope& trace, CComPtr<IDispatch>& cpPicture) {
  const HMODULE hBranding = CBranding::LoadResourceDLL();
  const HBITMAP hBitmap = hBranding ? static_cast<HBITMAP>(LoadImageW(hBranding, MAKEINTRESOURCEW(IDB_BRAND_REGION),
                                                                      IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))
                                    : nullptr;
  if (!hBitmap) {
    const HRESULT hr = hBranding ? HRESULT_FROM_WIN32(GetLastError()) : HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    trace.Error("LoadImage(IDB_BRAND_REGION)", hr);
    return hr;
  }
  PICTDESC desc = {sizeof desc, PICTYPE_BITMAP, {}};
  desc.bmp.hbitmap = hBitmap;
  const HRESULT hr = OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(&cpPicture));
  if (FAILED(hr)) {
    trace.Error("OleCreatePictureIndirect()", hr);
    DeleteObject(hBitmap);
  }
  return hr;
}

}  // namespace

HRESULT CRegionItemData::ConnectRegion() {
  CTraceScope trace("CRegionItemData::ConnectRegion");
  auto spSelf = shared_from_this();
  HRESULT hr = CDispEventHandler::Advise(
      m_info.cpFormRegion, Outlook::DIID_FormRegionEvents,
      [spSelf](DISPID dispid, DISPPARAMS*) { return spSelf->OnRegionEvent(dispid); }, &m_dwRegionCookie);
  if (FAILED(hr)) {
    trace.Error("Advise(FormRegionEvents)", hr);
    return hr;
  }
  return Connect();
}

HRESULT CRegionItemData::Connect() {
  CTraceScope trace("CRegionItemData::Connect()");
  CComPtr<IDispatch> cpForm, cpUserForm, cpControls, cpImage;
  HRESULT hr = LateBound::GetObjectProperty(m_info.cpFormRegion, L"Form", &cpForm);
  if (FAILED(hr)) {
    trace.Error("cpFormRegion->get_Form()", hr);
    return hr;
  }
  hr = cpForm->QueryInterface(MSForms::IID__UserForm, reinterpret_cast<void**>(&cpUserForm));
  if (FAILED(hr)) {
    trace.Error("QueryInterface(__uuidof(MSForms::_UserForm))", hr);
    return hr;
  }
  hr = LateBound::GetObjectProperty(cpUserForm, L"Controls", &cpControls);
  if (FAILED(hr)) {
    trace.Error("cpUserForm->get_Controls()", hr);
    return hr;
  }
  hr = GetControl(trace, cpControls, L"MainImage", MSForms::IID_IImage, "QueryInterface(__uuidof(MSForms::IImage))",
                  &cpImage);
  if (SUCCEEDED(hr))
    hr = GetControl(trace, cpControls, L"MainLabel", Outlook::IID__OlkTextBox,
                    "QueryInterface(__uuidof(Outlook::_OlkTextBox))", &m_cpLabel);
  if (SUCCEEDED(hr))
    hr = GetControl(trace, cpControls, L"AcceptButton", Outlook::IID__OlkCommandButton,
                    "QueryInterface(__uuidof(Outlook::_OlkCommandButton))", &m_cpButton);
  CComPtr<IDispatch> cpPicture;
  if (SUCCEEDED(hr)) hr = LoadRegionPicture(trace, cpPicture);
  if (SUCCEEDED(hr)) {
    hr = LateBound::PutProperty(cpImage, L"Picture", CComVariant(cpPicture.Get()));
    if (FAILED(hr)) trace.Error("cpImage->put_Picture()", hr);
  }
  if (FAILED(hr)) return hr;

  hr = LateBound::PutProperty(m_cpButton, L"Enabled", CComVariant(false));
  if (FAILED(hr)) {
    trace.Error("cpButton->put_Enabled()", hr);
    return hr;
  }
  hr = CDispEventHandler::Advise(m_cpButton, Outlook::DIID_OlkCommandButtonEvents,
                                 COlkButtonEventHandler(shared_from_this()), &m_dwButtonCookie);
  if (FAILED(hr)) {
    trace.Error("Advise(OlkCommandButtonEvents)", hr);
    return hr;
  }

  trace.Message("Kind = %lu", m_info.dwKind);
  std::wstring wsLabel;
  UINT nCaption = 0;
  switch (m_info.dwKind) {
    case kKindNewSigner:
      m_bIsReply = IsInvitationReply(m_info.cpMailItem);
      wsLabel =
          FormatResourceString(m_bIsReply ? IDS_REGION_INVITATION_REPLY : IDS_REGION_NEW_SIGNER, m_info.bsText.c_str());
      nCaption = IDS_REGION_ACCEPT;
      break;
    case kKindTrustedContact: {
      CComPtr<IDispatch> cpButtonControl;
      hr = LateBound::GetObjectProperty(cpControls, L"Item", &cpButtonControl, {CComVariant(L"AcceptButton")});
      if (SUCCEEDED(hr)) hr = LateBound::PutProperty(cpButtonControl, L"Visible", CComVariant(false));
      if (FAILED(hr)) trace.Error("cpButtonControl->put_Visible()", hr);
      wsLabel = FormatResourceString(IDS_REGION_TRUSTED_SIGNER, m_info.bsText.c_str());
      break;
    }
    case kKindAuthorityAnswer:
      nCaption = IDS_REGION_INSTALL;
      wsLabel = LoadResourceString(IDS_REGION_CA_ANSWER);
      break;
    case kKindEnterpriseRequest:
      nCaption = IDS_REGION_ENROL;
      wsLabel = LoadResourceString(IDS_REGION_ENROL_REQUEST);
      break;
    default:
      break;
  }
  if (nCaption) {
    hr = LateBound::PutProperty(m_cpButton, L"Caption", CComVariant(LoadResourceString(nCaption).c_str()));
    if (SUCCEEDED(hr)) hr = LateBound::PutProperty(m_cpButton, L"Enabled", CComVariant(true));
    if (FAILED(hr)) trace.Error("cpButton->put_Caption()", hr);
  }
  const HRESULT hrText = LateBound::PutProperty(m_cpLabel, L"Text", CComVariant(wsLabel.c_str()));
  if (FAILED(hrText)) trace.Error("cpLabel->put_Text()", hrText);
  return FAILED(hr) ? hr : hrText;
}

HRESULT CRegionItemData::OnRegionEvent(DISPID dispIdMember) {
  CTraceScope trace("CRegionItemData::Invoke");
  trace.Message("dispIdMember = 0x%08X", static_cast<unsigned>(dispIdMember));
  if (dispIdMember != Outlook::DISPID_FormRegionClose) return E_NOTIMPL;
  // Both sinks hold this object: it goes with the second.
  const auto spSelf = shared_from_this();
  if (m_dwButtonCookie)
    CDispEventHandler::Unadvise(m_cpButton, Outlook::DIID_OlkCommandButtonEvents, std::exchange(m_dwButtonCookie, 0));
  if (m_dwRegionCookie)
    CDispEventHandler::Unadvise(m_info.cpFormRegion, Outlook::DIID_FormRegionEvents,
                                std::exchange(m_dwRegionCookie, 0));
  return S_OK;
}

HRESULT CRegionItemData::OnRegionButtonClicked() {
  CTraceScope trace("CRegionItemData::OnRegionButtonClicked()");
  DWORD dwDone = 0;
  const HRESULT hr =
      ProcessMessage(m_info.cpMailItem, m_info.dwKind, m_info.bsText.c_str(), m_info.hCertificate, m_bIsReply, &dwDone);
  trace.Message("hr = 0x%08X, done = %lu", static_cast<unsigned>(hr), dwDone);
  if (dwDone) {
    const HRESULT hrPut = LateBound::PutProperty(m_cpButton, L"Enabled", CComVariant(false));
    if (FAILED(hrPut)) trace.Error("cpButton->put_Enabled()", hrPut);
  }
  return hr;
}

HRESULT COlkButtonEventHandler::operator()(DISPID dispIdMember, DISPPARAMS*) const {
  CTraceScope trace("COlkButtonEventHandler::Invoke()");
  trace.Message("dispIdMember = 0x%08X", static_cast<unsigned>(dispIdMember));
  return dispIdMember == Outlook::DISPID_OlkClick ? m_spOwner->OnRegionButtonClicked() : E_NOTIMPL;
}
