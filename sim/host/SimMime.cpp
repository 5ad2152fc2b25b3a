#include "SimMime.h"

#include <mapiutil.h>
#include <wincrypt.h>

#include "SimDispatch.h"
#include "SimMapi.h"
#include "SimPackage.h"
#include "SimSmime.h"
#include "hosts/ConverterSession.h"

namespace Sim {
namespace {

// Multipart bodies nested deeper than this are not opened, as a hostile message may nest without end.
constexpr int kMaxNesting = 16;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// A parameter of a header value ("boundary", "filename"), unquoted; empty when absent.
std::string Parameter(const std::string& sValue, const char* szName) {
  const std::string sLower = Lower(sValue), sKey = std::string(szName) + "=";
  for (size_t pos = 0; (pos = sLower.find(sKey, pos)) != std::string::npos; pos += sKey.size()) {
    if (pos && sLower[pos - 1] != ';' && sLower[pos - 1] != ' ' && sLower[pos - 1] != '\t') continue;
    size_t begin = pos + sKey.size();
    if (begin < sValue.size() && sValue[begin] == '"') {
      const size_t end = sValue.find('"', begin + 1);
      return end == std::string::npos ? std::string() : sValue.substr(begin + 1, end - begin - 1);
    }
    return sValue.substr(begin, sValue.find_first_of("; \t\r\n", begin) - begin);
  }
  return std::string();
}

std::string Header(const std::string& sEntity, const char* szName) { return Utf8(InternetHeader(sEntity, szName)); }

std::string Body(const std::string& sEntity) {
  const size_t pos = sEntity.find("\r\n\r\n");
  return pos == std::string::npos ? std::string() : sEntity.substr(pos + 4);
}

std::string DecodedBody(const std::string& sEntity) {
  const std::string sBody = Body(sEntity);
  if (Lower(Header(sEntity, "Content-Transfer-Encoding")) != "base64") return sBody;
  DWORD cb = 0;
  if (!CryptStringToBinaryA(sBody.data(), static_cast<DWORD>(sBody.size()), CRYPT_STRING_BASE64, nullptr, &cb, nullptr,
                            nullptr))
    return std::string();
  std::string sData(cb, '\0');
  CryptStringToBinaryA(sBody.data(), static_cast<DWORD>(sBody.size()), CRYPT_STRING_BASE64,
                       reinterpret_cast<BYTE*>(sData.data()), &cb, nullptr, nullptr);
  sData.resize(cb);
  return sData;
}

// The parts of a multipart entity between its boundaries.
std::vector<std::string> Parts(const std::string& sEntity, const std::string& sBoundary) {
  std::vector<std::string> parts;
  const std::string sBody = "\r\n" + Body(sEntity), sDelimiter = "\r\n--" + sBoundary;
  size_t pos = sBody.find(sDelimiter);
  while (pos != std::string::npos) {
    const size_t begin = sBody.find("\r\n", pos + sDelimiter.size());
    if (begin == std::string::npos || sBody.compare(pos + sDelimiter.size(), 2, "--") == 0) break;
    const size_t end = sBody.find(sDelimiter, begin);
    if (end == std::string::npos) break;
    parts.push_back(sBody.substr(begin + 2, end - begin - 2));
    pos = end;
  }
  return parts;
}

HRESULT AddAttachment(IMessage* pMessage, const std::wstring& wsName, const std::string& sData) {
  CComPtr<IAttach> cpAttach;
  ULONG ulNum = 0;
  HRESULT hr = pMessage->CreateAttach(nullptr, 0, &ulNum, &cpAttach);
  if (FAILED(hr)) return hr;
  SPropValue props[4] = {};
  props[0].ulPropTag = PR_ATTACH_METHOD;
  props[0].Value.l = ATTACH_BY_VALUE;
  props[1].ulPropTag = PR_ATTACH_LONG_FILENAME_W;
  props[1].Value.lpszW = const_cast<LPWSTR>(wsName.c_str());
  props[2].ulPropTag = PR_DISPLAY_NAME_W;
  props[2].Value.lpszW = const_cast<LPWSTR>(wsName.c_str());
  props[3].ulPropTag = PR_ATTACH_DATA_BIN;
  props[3].Value.bin = {static_cast<ULONG>(sData.size()), reinterpret_cast<BYTE*>(const_cast<char*>(sData.data()))};
  hr = cpAttach->SetProps(ARRAYSIZE(props), props, nullptr);
  return SUCCEEDED(hr) ? cpAttach->SaveChanges(0) : hr;
}

// The text and attachments of one entity and the entities it holds.
HRESULT ReadEntity(const std::string& sEntity, IMessage* pMessage, std::wstring* pwsText, int iDepth) {
  const std::string sType = Header(sEntity, "Content-Type");
  const std::string sMedia = Lower(sType.substr(0, sType.find(';')));
  if (sMedia.rfind("multipart/", 0) == 0) {
    if (iDepth >= kMaxNesting) return S_OK;
    std::vector<std::string> parts = Parts(sEntity, Parameter(sType, "boundary"));
    // A signed message shows what was signed; the signature is not an attachment.
    if (sMedia == "multipart/signed" && parts.size() > 1) parts.resize(1);
    for (const std::string& sPart : parts) {
      const HRESULT hr = ReadEntity(sPart, pMessage, pwsText, iDepth + 1);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  std::string sName = Parameter(Header(sEntity, "Content-Disposition"), "filename");
  if (sName.empty()) sName = Parameter(sType, "name");
  if (!sName.empty()) return AddAttachment(pMessage, FromUtf8(sName), DecodedBody(sEntity));
  if ((sMedia.empty() || sMedia == "text/plain") && pwsText->empty()) *pwsText = FromUtf8(DecodedBody(sEntity));
  return S_OK;
}

// "Name <address>" or a bare address.
void SplitMailbox(const std::wstring& wsMailbox, std::wstring* pwsName, std::wstring* pwsAddress) {
  const size_t open = wsMailbox.rfind(L'<'), close = wsMailbox.rfind(L'>');
  if (open == std::wstring::npos || close == std::wstring::npos || close < open) {
    *pwsAddress = wsMailbox;
    *pwsName = wsMailbox;
    return;
  }
  *pwsAddress = wsMailbox.substr(open + 1, close - open - 1);
  std::wstring wsName = wsMailbox.substr(0, open);
  while (!wsName.empty() && (wsName.back() == L' ' || wsName.back() == L'"')) wsName.pop_back();
  *pwsName = wsName.substr(wsName.find_first_not_of(L" \"") == std::wstring::npos ? wsName.size()
                                                                                  : wsName.find_first_not_of(L" \""));
}

class CConverterSession final : public CUnknownImpl<Olk::IConverterSession> {
 public:
  explicit CConverterSession(MessageWriter writer)
      : CUnknownImpl({Olk::IID_IConverterSession}), m_writer(std::move(writer)) {}

  STDMETHOD(SetAdrBook)(LPADRBOOK) override { return S_OK; }
  STDMETHOD(SetEncoding)(int) override { return S_OK; }
  STDMETHOD(PlaceHolder1)() override { return E_NOTIMPL; }
  STDMETHOD(MIMEToMAPI)(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR, ULONG) override {
    if (!pstm || !pmsg) return E_INVALIDARG;
    std::string sMime;
    char buffer[4096];
    ULONG cbRead = 0;
    HRESULT hr = S_OK;
    while (SUCCEEDED(hr = pstm->Read(buffer, sizeof buffer, &cbRead)) && cbRead) sMime.append(buffer, cbRead);
    return SUCCEEDED(hr) ? MimeToMessage(sMime, pmsg) : hr;
  }
  // Written in pieces of varying size, as Outlook's converter writes.
  STDMETHOD(MAPIToMIMEStm)(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags) override {
    if (!pmsg || !pstm || !(ulFlags & Olk::CCSF_SMTP)) return E_INVALIDARG;
    return m_writer(pmsg, [pstm](const char* pch, size_t cch) {
      static const size_t kPieces[] = {1, 4096, 77, 65536, 513};
      HRESULT hr = S_OK;
      for (size_t pos = 0, i = 0; SUCCEEDED(hr) && pos < cch; ++i) {
        const ULONG cb = static_cast<ULONG>(std::min(kPieces[i % ARRAYSIZE(kPieces)], cch - pos));
        ULONG cbWritten = 0;
        hr = pstm->Write(pch + pos, cb, &cbWritten);
        if (SUCCEEDED(hr) && cbWritten != cb) hr = STG_E_MEDIUMFULL;
        pos += cb;
      }
      return hr;
    });
  }
  STDMETHOD(PlaceHolder2)() override { return E_NOTIMPL; }
  STDMETHOD(PlaceHolder3)() override { return E_NOTIMPL; }
  STDMETHOD(PlaceHolder4)() override { return E_NOTIMPL; }
  STDMETHOD(SetTextWrapping)(BOOL, ULONG) override { return S_OK; }
  STDMETHOD(SetSaveFormat)(int) override { return S_OK; }
  STDMETHOD(PlaceHolder5)() override { return E_NOTIMPL; }
  STDMETHOD(SetCharset)(BOOL, void*, int) override { return S_OK; }

 private:
  MessageWriter m_writer;
};

class CConverterFactory final : public CUnknownImpl<IClassFactory> {
 public:
  explicit CConverterFactory(MessageWriter writer) : CUnknownImpl({IID_IClassFactory}), m_writer(std::move(writer)) {}
  STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pOuter) return CLASS_E_NOAGGREGATION;
    CComPtr<CConverterSession> cpSession;
    cpSession.Attach(new CConverterSession(m_writer));
    return cpSession->QueryInterface(riid, ppv);
  }
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }

 private:
  MessageWriter m_writer;
};

// Mail arrives with its lines ending in CRLF, as SMTP carries it: a lone CR or LF becomes CRLF.
std::string WithCrLf(const std::string& s) {
  std::string sOut;
  sOut.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    sOut += s[i] == '\r' || s[i] == '\n' ? std::string("\r\n") : std::string(1, s[i]);
  }
  return sOut;
}

}  // namespace

HRESULT MimeToMessage(const std::string& sReceived, IMessage* pMessage) {
  const std::string sMime = WithCrLf(sReceived);
  std::wstring wsName, wsAddress, wsText;
  SplitMailbox(InternetHeader(sMime, "From"), &wsName, &wsAddress);
  HRESULT hr = ReadEntity(sMime, pMessage, &wsText, 0);
  if (FAILED(hr)) return hr;
  PropMap& props = MessageStore(pMessage).m_props;
  props[PROP_ID(kInternetMessageTag)] = MakeBinaryProp(kInternetMessageTag, sMime.data(), sMime.size());
  props[PROP_ID(PR_MESSAGE_CLASS_W)] = MakeUnicodeProp(PR_MESSAGE_CLASS_W, InternetMessageClass(sMime));
  props[PROP_ID(PR_SENDER_NAME_W)] = MakeUnicodeProp(PR_SENDER_NAME_W, wsName);
  props[PROP_ID(PR_SENDER_EMAIL_ADDRESS_W)] = MakeUnicodeProp(PR_SENDER_EMAIL_ADDRESS_W, wsAddress);
  props[PROP_ID(PR_BODY_W)] = MakeUnicodeProp(PR_BODY_W, wsText);
  return S_OK;
}

HRESULT ReceivedSecurityLabel(const std::string& sMime, std::vector<BYTE>* pLabel) {
  pLabel->clear();
  std::string sEntity = sMime;
  // Sealed content holds the signed entity; a hostile message may seal without end.
  for (int iDepth = 0; iDepth < kMaxNesting; ++iDepth) {
    const std::string sType = Header(sEntity, "Content-Type");
    const std::string sMedia = Lower(sType.substr(0, sType.find(';')));
    if (sMedia == "multipart/signed") {
      const std::vector<std::string> parts = Parts(sEntity, Parameter(sType, "boundary"));
      if (parts.size() != 2) return CRYPT_E_BAD_ENCODE;
      const std::string sSignature = DecodedBody(parts[1]);
      return SignerLabel(Bytes(sSignature.begin(), sSignature.end()), true, pLabel);
    }
    if (sMedia != "application/pkcs7-mime" && sMedia != "application/x-pkcs7-mime") return S_FALSE;
    const std::string sBody = DecodedBody(sEntity);
    const Bytes der(sBody.begin(), sBody.end());
    if (Lower(Parameter(sType, "smime-type")) != "enveloped-data") return SignerLabel(der, false, pLabel);
    const HRESULT hr = OpenEnvelope(der, &sEntity);
    if (FAILED(hr)) return hr;
  }
  return S_FALSE;
}

HRESULT RegisterConverter(MessageWriter writer, DWORD* pdwCookie) {
  CComPtr<CConverterFactory> cpFactory;
  cpFactory.Attach(new CConverterFactory(std::move(writer)));
  return CoRegisterClassObject(Olk::CLSID_IConverterSession, static_cast<IClassFactory*>(cpFactory),
                               CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, pdwCookie);
}

}  // namespace Sim
