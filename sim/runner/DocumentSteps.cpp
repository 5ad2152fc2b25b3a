// The scenario steps of Word, Excel and PowerPoint.
#include <cwctype>

#include "Scenario.h"
#include "com/LateBound.h"

namespace Sim {
namespace {

// A provider as Office names it: a class id; a ProgID is turned into its class id.
std::wstring ProviderId(const std::wstring& ws) {
  CLSID clsid;
  if (ws.empty() || ws[0] == L'{' || FAILED(CLSIDFromProgID(ws.c_str(), &clsid))) return ws;
  wchar_t wsz[40] = {};
  StringFromGUID2(clsid, wsz, 40);
  return wsz;
}

// The document's signature N (from 1), through the object model.
HRESULT SignatureItem(IDispatch* pDocument, const std::wstring& wsIndex, CVariant* pSignature) {
  CVariant varSignatures, varIndex(static_cast<LONG>(_wtol(wsIndex.c_str())));
  HRESULT hr = LateBound::GetProperty(pDocument, L"Signatures", &varSignatures);
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(varSignatures.pdispVal, L"Item", pSignature, {varIndex});
  return SUCCEEDED(hr) && pSignature->vt != VT_DISPATCH ? E_UNEXPECTED : hr;
}

}  // namespace

// A file argument: environment variables expanded, so that scripts name shared folders.
std::wstring ExpandedPath(const std::wstring& ws) {
  wchar_t wsz[MAX_PATH * 2] = {};
  return ExpandEnvironmentStringsW(ws.c_str(), wsz, ARRAYSIZE(wsz)) ? wsz : ws;
}

HRESULT CScenario::StartOffice(const Words& words, std::wstring* pwsDetail) {
  static const std::pair<const wchar_t*, EDocApp> kApps[] = {
      {L"word", EDocApp::Word}, {L"excel", EDocApp::Excel}, {L"powerpoint", EDocApp::PowerPoint}};
  SOfficeOptions options;
  options.onlyAddIns = m_options.onlyAddIns;
  bool bKnown = false;
  for (const auto& [wszName, app] : kApps) {
    if (words[1] == wszName) options.app = app, bKnown = true;
  }
  if (!bKnown || words.size() > 3) return *pwsDetail = L"start word|excel|powerpoint [VERSION]", E_INVALIDARG;
  if (words.size() == 3)
    options.wsVersion = words[2].find(L'.') == std::wstring::npos ? words[2] + L".0.0.0" : words[2];
  m_cpOutlook.Release();
  m_cpOffice.Attach(new COfficeApp(options));
  m_published.clear();
  m_cShownLog = m_cShownRecord = 0;
  const HRESULT hr = m_cpOffice->Start();
  for (CComAddIn* pAddIn : m_cpOffice->AddIns())
    *pwsDetail += (pwsDetail->empty() ? L"" : L", ") + pAddIn->m_wsProgId + (pAddIn->m_bConnect ? L"" : L" (failed)");
  *pwsDetail = std::wstring(m_cpOffice->Name()) + L" " + options.wsVersion + L", add-ins: " +
               (pwsDetail->empty() ? L"none" : *pwsDetail);
  return hr;
}

IDispatch* CScenario::Document(std::wstring* pwsDetail) {
  CSimDocument* pDocument = m_cpOffice->ActiveDocument();
  if (!pDocument) *pwsDetail = L"no document is open";
  return pDocument;
}

HRESULT CScenario::DocumentStep(const Words& words, std::wstring* pwsDetail) {
  const std::wstring& wsVerb = words[0];
  const size_t cArgs = words.size() - 1;
  if (!m_cpOffice->Started()) return *pwsDetail = std::wstring(m_cpOffice->Name()) + L" is not running", E_UNEXPECTED;
  if (wsVerb == L"quit" && !cArgs) return m_cpOffice->Quit();
  if (wsVerb == L"new" && cArgs == 1) {
    CSimDocument* pDocument = nullptr;
    return m_cpOffice->NewDocument(words[1], &pDocument);
  }
  if ((wsVerb == L"open" || wsVerb == L"view") && cArgs == 1) {
    CSimDocument* pDocument = nullptr;
    return m_cpOffice->OpenDocument(ExpandedPath(words[1]), wsVerb == L"view", &pDocument);
  }
  if (wsVerb == L"execute" && cArgs == 1) {
    VARIANT varBars;
    VariantInit(&varBars);
    HRESULT hr = LateBound::GetProperty(m_cpOffice, L"CommandBars", &varBars);
    CVariant varIdMso(words[1]);
    if (SUCCEEDED(hr)) hr = LateBound::Call(varBars.pdispVal, L"ExecuteMso", {varIdMso});
    VariantClear(&varBars);
    return hr;
  }
  // "filename FILE|cancel": what the user answers the next Save As dialog.
  if (wsVerb == L"filename" && cArgs == 1) {
    m_cpOffice->AnswerSaveAs(words[1] == L"cancel" ? L"" : ExpandedPath(words[1]));
    return S_OK;
  }
  // The ribbon of the document window in front.
  if (wsVerb == L"click" && cArgs == 2 && words[1] == L"document") return m_cpOffice->Click(words[2]);
  if (wsVerb == L"save" && cArgs == 3 && words[1] == L"image" && words[2] == L"document")
    return SaveRibbonImage(words, pwsDetail);
  // Held for the step: Close releases the application's reference while the call runs.
  CComPtr<IDispatch> cpDocument = Document(pwsDetail);
  if (!cpDocument) return E_UNEXPECTED;
  if (wsVerb == L"encrypt" && cArgs == 1) {
    CVariant varProvider(ProviderId(words[1])), varAlgorithm(std::wstring(L"3DES")), varKeyLength(LONG{168}),
        varProperties(true);
    return LateBound::Call(cpDocument, L"SetPasswordEncryptionOptions",
                           {varProvider, varAlgorithm, varKeyLength, varProperties});
  }
  if (wsVerb == L"provider" && cArgs == 1) {
    CVariant varProvider(ProviderId(words[1]));
    return LateBound::PutProperty(cpDocument, L"EncryptionProvider", varProvider);
  }
  if (wsVerb == L"saveas" && cArgs == 1) {
    CVariant varPath(ExpandedPath(words[1]));
    return LateBound::Call(cpDocument, L"SaveAs", {varPath});
  }
  // "saveformat N FILE": SaveAs with that file format (Word's 0: the Word 97-2003 document).
  if (wsVerb == L"saveformat" && cArgs == 2) {
    CVariant varPath(ExpandedPath(words[2])), varFormat(static_cast<LONG>(_wtol(words[1].c_str())));
    return LateBound::Call(cpDocument, L"SaveAs", {varPath, varFormat});
  }
  if ((wsVerb == L"sign" || wsVerb == L"signatureline") && cArgs == 1) {
    CVariant varSignatures, varProvider(ProviderId(words[1])), varSignature;
    HRESULT hr = LateBound::GetProperty(cpDocument, L"Signatures", &varSignatures);
    if (SUCCEEDED(hr))
      hr = LateBound::Call(varSignatures.pdispVal, wsVerb == L"sign" ? L"AddNonVisibleSignature" : L"AddSignatureLine",
                           {varProvider}, &varSignature);
    return hr;
  }
  if ((wsVerb == L"signline" || wsVerb == L"details") && cArgs == 1) {
    CVariant varSignature;
    HRESULT hr = SignatureItem(cpDocument, words[1], &varSignature);
    if (SUCCEEDED(hr)) hr = LateBound::Call(varSignature.pdispVal, wsVerb == L"signline" ? L"Sign" : L"ShowDetails");
    return hr;
  }
  if (wsVerb == L"lineimage" && cArgs == 2)
    return m_cpOffice->ActiveDocument()->Signatures()->SaveLineImage(_wtol(words[1].c_str()) - 1,
                                                                     ExpandedPath(words[2]));
  if (wsVerb == L"save" && !cArgs) return LateBound::Call(cpDocument, L"Save");
  if (wsVerb == L"close" && !cArgs) return LateBound::Call(cpDocument, L"Close");
  *pwsDetail = L"unknown step or wrong number of words";
  return E_INVALIDARG;
}

HRESULT CScenario::ExpectDocument(const Words& words, std::wstring* pwsDetail) {
  const std::wstring wsWhat = words.size() > 1 ? words[1] : L"";
  if (m_cpOffice->Started() && wsWhat == L"signature" && words.size() == 4) {
    CComPtr<IDispatch> cpDocument = Document(pwsDetail);
    CVariant varSignature;
    HRESULT hr = cpDocument ? SignatureItem(cpDocument, words[2], &varSignature) : E_UNEXPECTED;
    bool flags[3] = {};  // signed, valid, a line
    const wchar_t* const names[3] = {L"IsSigned", L"IsValid", L"IsSignatureLine"};
    for (size_t i = 0; i < 3 && SUCCEEDED(hr); ++i) {
      CVariant var;
      hr = LateBound::GetProperty(varSignature.pdispVal, names[i], &var);
      flags[i] = SUCCEEDED(hr) && var.vt == VT_BOOL && var.boolVal;
    }
    const std::wstring wsState = std::wstring(!flags[0]  ? L"unsigned"
                                              : flags[1] ? L"signed valid"
                                                         : L"signed invalid") +
                                 (flags[2] ? L" line" : L"");
    *pwsDetail = SUCCEEDED(hr) ? L"\"" + wsState + L"\"" : HresultText(hr);
    return SUCCEEDED(hr) && wsState == words[3] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"balloon" && (words.size() == 5 || (words.size() == 3 && words[2] == L"none")))
    return ExpectBalloon(words, pwsDetail);
  const bool bControl = wsWhat == L"label" || wsWhat == L"tip" || wsWhat == L"image" || wsWhat == L"visible";
  if (m_cpOffice->Started() && bControl && words.size() == 5 && words[2] == L"document")
    return ExpectControl(words, pwsDetail);
  if (!m_cpOffice->Started() || (wsWhat != L"text" && wsWhat != L"property")) return Expect(words, pwsDetail);
  IDispatch* pTarget = wsWhat == L"property" && words.size() == 5 && words[2] == L"application"
                           ? static_cast<IDispatch*>(m_cpOffice)
                           : Document(pwsDetail);
  if (!pTarget) return E_UNEXPECTED;
  VARIANT var;
  VariantInit(&var);
  HRESULT hr = E_INVALIDARG;
  std::wstring wsExpected;
  if (wsWhat == L"text" && words.size() == 3) {
    VARIANT varContent;
    VariantInit(&varContent);
    hr = LateBound::GetProperty(pTarget, L"Content", &varContent);
    if (SUCCEEDED(hr)) hr = LateBound::GetProperty(varContent.pdispVal, L"Text", &var);
    VariantClear(&varContent);
    wsExpected = words[2];
  } else if (wsWhat == L"property" && words.size() == 5) {
    hr = LateBound::GetProperty(pTarget, words[3].c_str(), &var);
    wsExpected = words[4];
  } else {
    *pwsDetail = L"unknown expectation or wrong number of words";
    return E_INVALIDARG;
  }
  const std::wstring wsValue = SUCCEEDED(hr) ? ValueText(&var) : HresultText(hr);
  VariantClear(&var);
  *pwsDetail = L"\"" + wsValue + L"\"";
  return SUCCEEDED(hr) && wsValue == wsExpected ? S_OK : E_FAIL;
}

// "expect label|tip|image|visible document ID TEXT": a control of the document window's ribbon, refreshed.
HRESULT CScenario::ExpectControl(const Words& words, std::wstring* pwsDetail) {
  SControlState state;
  const HRESULT hr = m_cpOffice->ControlState(words[3], &state);
  if (FAILED(hr)) return hr;
  const std::wstring& wsWhat = words[1];
  std::wstring wsActual;
  if (wsWhat == L"label") {
    wsActual = state.wsLabel;
  } else if (wsWhat == L"tip") {
    wsActual = state.wsTip;
  } else if (wsWhat == L"image") {
    wsActual = state.wsImage;
  } else {
    wsActual = state.bVisible ? L"yes" : L"no";
  }
  *pwsDetail = L"\"" + wsActual + L"\"";
  return wsActual == words[4] ? S_OK : E_FAIL;
}

}  // namespace Sim
