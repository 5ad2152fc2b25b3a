// The simulated Outlook's S/MIME engine: profiles it refuses, and what it sends for a signed,
// sealed or labelled message. Built with the test authority and the suite's key provider of
// the prefix. With SMIME_OUT set (tests/CMakeLists.txt), the messages and the users' keys stay
// there for the checks outside Windows (tests/interop/test_smime_messages.py).
#include <mapiutil.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OutlookFixture.h"
#include "OwnCertificates.h"
#include "TestAuthority.h"
#include "suite/VmCertServices.h"

namespace {

using Sim::Bytes;

Bytes Hex(const char* sz) {
  Bytes bytes;
  for (; sz[0] && sz[1]; sz += 2) bytes.push_back(static_cast<BYTE>(std::stoul(std::string(sz, 2), nullptr, 16)));
  return bytes;
}

// The S/MIME capabilities the module offers: 3DES, RC2/128, RC2/64, DES, RC2/40, SHA-1, MD5.
const Bytes kCapabilities =
    Hex("3058300a06082a864886f70d0307300e06082a864886f70d030202020080300d06082a864886f70d0302020140"
        "300706052b0e030207300d06082a864886f70d0302020128300706052b0e03021a300a06082a864886f70d0205");
constexpr DWORD kClassification = 5;

void Record(Bytes* pProfile, WORD wTag, const Bytes& data) {
  const size_t cb = data.size() + 4;
  pProfile->insert(pProfile->end(), {static_cast<BYTE>(wTag), static_cast<BYTE>(wTag >> 8), static_cast<BYTE>(cb),
                                     static_cast<BYTE>(cb >> 8)});
  pProfile->insert(pProfile->end(), data.begin(), data.end());
}

Bytes Number(DWORD dw) { return Bytes{static_cast<BYTE>(dw), static_cast<BYTE>(dw >> 8), 0, 0}; }

// ESSSecurityLabel { policy 1.3.6.1.4.1.51877.1.2, classification }.
Bytes Label(DWORD dwClassification) {
  Bytes label = Hex("310f060a2b0601040183952501020201");
  label.push_back(static_cast<BYTE>(dwClassification));
  return label;
}

// A security profile as the module writes it.
Bytes Profile(const Bytes& hash, const Bytes& label = {}, const Bytes& capabilities = kCapabilities) {
  Bytes profile;
  Record(&profile, 0x0001, Number(1));
  Record(&profile, 0x0006, Number(1));
  Record(&profile, 0x0020, Number(7));
  Record(&profile, 0x000B, Hex("536563757265204d61696c00"));  // "Secure Mail"
  Bytes wide;
  for (char c : std::string("Secure Mail")) wide.insert(wide.end(), {static_cast<BYTE>(c), 0});
  wide.insert(wide.end(), {0, 0});
  Record(&profile, 0x0051, wide);
  Record(&profile, 0x0022, hash);
  Record(&profile, 0x0009, hash);
  Record(&profile, 0x0002, capabilities);
  if (!label.empty()) Record(&profile, 0x0050, label);
  return profile;
}

Bytes CertHash(PCCERT_CONTEXT pCert) {
  Bytes hash(20);
  DWORD cb = 20;
  CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, hash.data(), &cb);
  return hash;
}

// Wine keeps deletions from a registry-backed store in memory only: the registry keys go.
void ForgetCertificates(const wchar_t* wszStore, const std::wstring& wsAddress) {
  CCertStore hStore(OpenUserStore(wszStore));
  std::vector<std::wstring> keys;
  PCCERT_CONTEXT pCert = nullptr;
  while (hStore && (pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
    wchar_t wszEmail[256] = {};
    CertGetNameStringW(pCert, CERT_NAME_EMAIL_TYPE, 0, nullptr, wszEmail, 256);
    if (lstrcmpiW(wszEmail, wsAddress.c_str())) continue;
    std::wstring wsHash;
    for (BYTE b : CertHash(pCert)) {
      wchar_t wsz[3];
      wsprintfW(wsz, L"%02X", b);
      wsHash += wsz;
    }
    keys.push_back(std::wstring(L"Software\\Microsoft\\SystemCertificates\\") + wszStore + L"\\Certificates\\" +
                   wsHash);
  }
  hStore.Reset();
  for (const std::wstring& wsKey : keys) RegDeleteTreeW(HKEY_CURRENT_USER, wsKey.c_str());
}

struct SUser {
  std::wstring wsAddress;
  CCertContext cert;
  Bytes privateKey;  // PRIVATEKEYBLOB
};

HRESULT ExportPrivateKey(HCRYPTPROV hProv, DWORD dwKeySpec, Bytes* pBlob) {
  CCryptKey hKey;
  DWORD cb = 0;
  if (!CryptGetUserKey(hProv, dwKeySpec, &hKey) || !CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, nullptr, &cb))
    return LastErrorResult();
  pBlob->resize(cb);
  return CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, pBlob->data(), &cb) ? S_OK : LastErrorResult();
}

// The sender: an own certificate whose key is in the suite's key provider, of classification 5.
HRESULT MakeOwnUser(const CTestAuthority& authority, SUser* pUser) {
  ForgetCertificates(kMyStore, pUser->wsAddress);
  std::wstring wsContainer;
  Bytes publicKey, der;
  HRESULT hr = CreateSuiteKeyPair(&wsContainer, &publicKey);
  if (SUCCEEDED(hr))
    hr = authority.Issue(*reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(publicKey.data()), pUser->wsAddress,
                         L"Alice Sender", FileTimeFromNow(-1), FileTimeFromNow(30), &der);
  if (SUCCEEDED(hr)) hr = CreateOwnCertificate(der.data(), static_cast<DWORD>(der.size()), wsContainer, &pUser->cert);
  if (SUCCEEDED(hr)) hr = AddToUserStore(kMyStore, pUser->cert, CERT_STORE_ADD_REPLACE_EXISTING);
  CCryptProv hProv;
  if (SUCCEEDED(hr) &&
      !CryptAcquireContextW(&hProv, wsContainer.c_str(), VM_SOLVANE_PROV_NAME, PROV_RSA_FULL, CRYPT_SILENT))
    hr = LastErrorResult();
  const DWORD dwClass = kClassification;
  if (SUCCEEDED(hr) &&
      !CryptSetProvParam(hProv, VM_PP_KEY_CLASS, reinterpret_cast<const BYTE*>(&dwClass), VM_PP_ACCESS))
    hr = LastErrorResult();
  return SUCCEEDED(hr) ? ExportPrivateKey(hProv, AT_KEYEXCHANGE, &pUser->privateKey) : hr;
}

// A correspondent: a certificate of the authority for a key of the platform's provider.
HRESULT MakeCorrespondent(const CTestAuthority& authority, const std::wstring& wsName, SUser* pUser) {
  const std::wstring wsContainer = L"SimSmimeTest " + pUser->wsAddress;
  HCRYPTPROV hDeleted = 0;
  CryptAcquireContextW(&hDeleted, wsContainer.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
  CCryptProv hProv;
  CCryptKey hKey;
  if (!CryptAcquireContextW(&hProv, wsContainer.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET) ||
      !CryptGenKey(hProv, AT_KEYEXCHANGE, 2048u << 16 | CRYPT_EXPORTABLE, &hKey)) {
    return LastErrorResult();
  }
  Bytes publicKey, der;
  HRESULT hr = ExportPublicKey(hProv, AT_KEYEXCHANGE, &publicKey);
  if (SUCCEEDED(hr))
    hr = authority.Issue(*reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(publicKey.data()), pUser->wsAddress, wsName,
                         FileTimeFromNow(-1), FileTimeFromNow(30), &der);
  if (SUCCEEDED(hr)) {
    pUser->cert.Reset(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    if (!pUser->cert) hr = LastErrorResult();
  }
  return SUCCEEDED(hr) ? ExportPrivateKey(hProv, AT_KEYEXCHANGE, &pUser->privateKey) : hr;
}

std::wstring OutputFolder() {
  wchar_t wsz[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"SMIME_OUT", wsz, MAX_PATH)) {
    std::wstring ws = wsz;
    if (!ws.empty() && ws[0] == L'/') {
      std::replace(ws.begin(), ws.end(), L'/', L'\\');
      ws = L"Z:" + ws;
    }
    return ws;
  }
  GetTempPathW(MAX_PATH, wsz);
  return std::wstring(wsz) + L"SimSmimeTest";
}

std::string Base64Body(const std::string& sEntity) {
  const std::string sBody = sEntity.substr(sEntity.find("\r\n\r\n") + 4);
  DWORD cb = 0;
  CryptStringToBinaryA(sBody.c_str(), static_cast<DWORD>(sBody.size()), CRYPT_STRING_BASE64, nullptr, &cb, nullptr,
                       nullptr);
  std::string sData(cb, '\0');
  CryptStringToBinaryA(sBody.c_str(), static_cast<DWORD>(sBody.size()), CRYPT_STRING_BASE64,
                       reinterpret_cast<BYTE*>(sData.data()), &cb, nullptr, nullptr);
  return sData;
}

struct SMsgClose {
  void operator()(HCRYPTMSG h) const { CryptMsgClose(h); }
};

// A PKCS #7 message decoded by the platform (the detached content is not needed for its parameters).
std::unique_ptr<void, SMsgClose> Decode(const std::string& sData, DWORD dwFlags = 0) {
  std::unique_ptr<void, SMsgClose> msg(
      CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, dwFlags, 0, 0, nullptr, nullptr));
  EXPECT_TRUE(msg && CryptMsgUpdate(msg.get(), reinterpret_cast<const BYTE*>(sData.data()),
                                    static_cast<DWORD>(sData.size()), TRUE));
  return msg;
}

DWORD MsgDword(HCRYPTMSG hMsg, DWORD dwParam) {
  DWORD dw = 0, cb = sizeof dw;
  EXPECT_TRUE(CryptMsgGetParam(hMsg, dwParam, 0, &dw, &cb));
  return dw;
}

class SimSmimeTest : public COutlookTest {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CTestAuthority authority;
    s_hrSetUp = authority.Load(AuthorityFolder());
    // The authority is a known issuer, so a signature carries the whole chain.
    if (SUCCEEDED(s_hrSetUp)) s_hrSetUp = AddToUserStore(L"CA", authority.Certificate(), CERT_STORE_ADD_USE_EXISTING);
    s_users.resize(3);
    s_users[0].wsAddress = L"alice@smime.test";
    s_users[1].wsAddress = L"bob@smime.test";
    s_users[2].wsAddress = L"carol@smime.test";
    if (SUCCEEDED(s_hrSetUp)) s_hrSetUp = MakeOwnUser(authority, &s_users[0]);
    if (SUCCEEDED(s_hrSetUp)) s_hrSetUp = MakeCorrespondent(authority, L"Bob Buddy", &s_users[1]);
    if (SUCCEEDED(s_hrSetUp)) s_hrSetUp = MakeCorrespondent(authority, L"Carol Contact", &s_users[2]);
    ForgetCertificates(kBuddyStore, s_users[1].wsAddress);
    if (SUCCEEDED(s_hrSetUp)) s_hrSetUp = AddToUserStore(kBuddyStore, s_users[1].cert, CERT_STORE_ADD_NEW);
    // Each run starts with an empty mail drop.
    const std::wstring wsOut = OutputFolder();
    std::wstring wsDrop = wsOut + L"\\drop";
    wsDrop.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = wsDrop.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
    SHCreateDirectoryExW(nullptr, wsOut.c_str(), nullptr);
    for (const SUser& user : s_users) {
      if (FAILED(s_hrSetUp) || !user.cert) continue;
      const std::wstring wsBase = wsOut + L"\\" + user.wsAddress.substr(0, user.wsAddress.find(L'@'));
      s_hrSetUp = WriteFileBytes(
          wsBase + L".cer",
          Bytes(user.cert.Get()->pbCertEncoded, user.cert.Get()->pbCertEncoded + user.cert.Get()->cbCertEncoded));
      if (SUCCEEDED(s_hrSetUp)) s_hrSetUp = WriteFileBytes(wsBase + L".key", user.privateKey);
    }
    CoUninitialize();
  }
  static void TearDownTestSuite() { s_users.clear(); }

  void SetUp() override {
    COutlookTest::SetUp();
    ASSERT_EQ(S_OK, s_hrSetUp);
    m_wsDrop = OutputFolder() + L"\\drop";
    Sim::SOutlookOptions options;
    options.wsVersion = L"14.0.0.0";
    options.accounts = {{L"alice@smime.test", L"alice@smime.test", L"Alice Sender", L""}};
    options.wsMailDrop = m_wsDrop;
    Start(options);
    m_cpOutlook->AddContact({L"Carol Contact", L"SMTP", L"carol@smime.test", L"", L""},
                            Bytes(Cert(2)->pbCertEncoded, Cert(2)->pbCertEncoded + Cert(2)->cbCertEncoded));
  }

  static PCCERT_CONTEXT Cert(size_t i) { return s_users[i].cert.Get(); }

  // A new message to these recipients with these security properties, sent; what Outlook sent.
  HRESULT Send(const std::wstring& wsSubject, const std::vector<std::wstring>& recipients, LONG lFlags,
               const Bytes& profile, IMessage** ppMessage = nullptr) {
    Sim::CInspector* pInspector = nullptr;
    HRESULT hr = m_cpOutlook->Compose(&pInspector);
    if (FAILED(hr)) return hr;
    IMessage* pMessage = pInspector->Message();
    if (ppMessage) (*ppMessage = pMessage)->AddRef();
    std::vector<SPropValue> values(3 * recipients.size());
    std::vector<ADRENTRY> entries(recipients.size());
    for (size_t i = 0; i < recipients.size(); ++i) {
      values[3 * i].ulPropTag = PR_DISPLAY_NAME_W;
      values[3 * i].Value.lpszW = const_cast<LPWSTR>(recipients[i].c_str());
      values[3 * i + 1].ulPropTag = PR_EMAIL_ADDRESS_W;
      values[3 * i + 1].Value.lpszW = const_cast<LPWSTR>(recipients[i].c_str());
      values[3 * i + 2].ulPropTag = PR_RECIPIENT_TYPE;
      values[3 * i + 2].Value.l = i ? MAPI_CC : MAPI_TO;
      entries[i] = {0, 3, &values[3 * i]};
    }
    std::vector<BYTE> list(CbNewADRLIST(recipients.size()));
    auto* pList = reinterpret_cast<ADRLIST*>(list.data());
    pList->cEntries = static_cast<ULONG>(recipients.size());
    std::copy(entries.begin(), entries.end(), pList->aEntries);
    hr = pMessage->ModifyRecipients(MODRECIP_ADD, pList);
    SPropValue props[4] = {};
    props[0].ulPropTag = PR_SUBJECT_W;
    props[0].Value.lpszW = const_cast<LPWSTR>(wsSubject.c_str());
    props[1].ulPropTag = PR_BODY_W;
    props[1].Value.lpszW = const_cast<LPWSTR>(L"Meet me at the harbour at six.\r\nBring the charts.");
    props[2].ulPropTag = Sim::kSecurityFlagsTag;
    props[2].Value.l = lFlags;
    // The profile is the one value of a multi-valued binary property.
    SBinary bin = {static_cast<ULONG>(profile.size()), const_cast<BYTE*>(profile.data())};
    props[3].ulPropTag = Sim::kSecurityProfileTag;
    props[3].Value.MVbin = {1, &bin};
    if (SUCCEEDED(hr)) hr = pMessage->SetProps(profile.empty() ? 3 : 4, props, nullptr);
    return SUCCEEDED(hr) ? m_cpOutlook->SendItem(pMessage) : hr;
  }

  // The message that reached the recipient's folder of the mail drop last.
  std::string Dropped(const std::wstring& wsAddress) {
    const std::wstring wsFolder = m_wsDrop + L"\\" + wsAddress;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((wsFolder + L"\\*.eml").c_str(), &data);
    std::string sNewest;
    FILETIME ftNewest = {};
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileW(hFind, &data)) {
      if (CompareFileTime(&data.ftLastWriteTime, &ftNewest) < 0) continue;
      ftNewest = data.ftLastWriteTime;
      EXPECT_EQ(S_OK, Sim::ReadInternetMessage(wsFolder + L"\\" + data.cFileName, &sNewest));
    }
    if (hFind != INVALID_HANDLE_VALUE) FindClose(hFind);
    return sNewest;
  }

  size_t DroppedCount(const std::wstring& wsAddress) {
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((m_wsDrop + L"\\" + wsAddress + L"\\*.eml").c_str(), &data);
    size_t c = 0;
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileW(hFind, &data)) ++c;
    if (hFind != INVALID_HANDLE_VALUE) FindClose(hFind);
    return c;
  }

  // What Outlook logged, for the failure messages.
  std::string Log() const {
    std::string s;
    for (const std::wstring& ws : m_cpOutlook->m_log) s += "\n  " + std::string(ws.begin(), ws.end());
    return s;
  }

  std::wstring m_wsDrop;
  static inline HRESULT s_hrSetUp = E_FAIL;
  static inline std::vector<SUser> s_users;
};

TEST_F(SimSmimeTest, OnlyAWellFormedProfileIsRead) {
  const Bytes hash(20, 0xA5);
  Sim::SSecurityProfile profile;
  ASSERT_EQ(S_OK, Sim::ParseSecurityProfile(Profile(hash, Label(3)), &profile));
  EXPECT_EQ("Secure Mail", profile.sName);
  EXPECT_EQ(L"Secure Mail", profile.wsName);
  EXPECT_EQ(hash, profile.signingHash);
  EXPECT_EQ(kCapabilities, profile.capabilities);
  EXPECT_EQ(Label(3), profile.label);
  ASSERT_EQ(S_OK, Sim::ParseSecurityProfile(Profile(hash), &profile));
  EXPECT_TRUE(profile.label.empty());

  const Bytes good = Profile(hash, Label(3));
  std::vector<std::pair<const char*, Bytes>> malformed;
  malformed.emplace_back("cut short", Bytes(good.begin(), good.end() - 1));
  malformed.emplace_back("bytes after the last record", [&] {
    Bytes b = good;
    b.push_back(0);
    return b;
  }());
  malformed.emplace_back("a length below the header", [&] {
    Bytes b = good;
    b[2] = 3;
    return b;
  }());
  malformed.emplace_back("a constant of another value", [&] {
    Bytes b = good;
    b[4] = 2;
    return b;
  }());
  malformed.emplace_back("records out of order", [&] {
    Bytes b = good;
    std::swap_ranges(b.begin(), b.begin() + 8, b.begin() + 8);
    return b;
  }());
  malformed.emplace_back("a hash of 19 bytes", Profile(Bytes(19, 1)));
  malformed.emplace_back("capabilities that are not DER",
                         Profile(hash, {}, Bytes(kCapabilities.begin(), kCapabilities.end() - 1)));
  malformed.emplace_back("a label that is not a set", [&] {
    Bytes label = Label(3);
    label[0] = 0x30;
    return Profile(hash, label);
  }());
  malformed.emplace_back("an ANSI name without its zero", [&] {
    Bytes b = good;
    const size_t nName = 24;  // the name record follows three records of 8 bytes
    b[nName + 4 + 11] = 'x';
    return b;
  }());
  malformed.emplace_back("the label record missing its hashes", [&] {
    Bytes b;
    Record(&b, 0x0001, Number(1));
    return b;
  }());
  for (const auto& [szCase, bytes] : malformed)
    EXPECT_EQ(MAPI_E_CORRUPT_DATA, Sim::ParseSecurityProfile(bytes, &profile)) << szCase;
}

TEST_F(SimSmimeTest, AMalformedProfileOrAnUnknownCertificateFailsTheSendAndKeepsTheMessage) {
  Bytes broken = Profile(CertHash(Cert(0)));
  broken.resize(broken.size() - 2);
  const size_t cBefore = DroppedCount(L"bob@smime.test");
  CComPtr<IMessage> cpMessage;
  EXPECT_EQ(MAPI_E_CORRUPT_DATA, Send(L"broken", {L"bob@smime.test"}, Sim::kSecuritySign, broken, &cpMessage));
  EXPECT_EQ(cpMessage.Get(), m_cpOutlook->ActiveInspector()->Message()) << "the message stays in its window";
  EXPECT_TRUE(m_cpOutlook->SentItems().empty());
  EXPECT_EQ(cBefore, DroppedCount(L"bob@smime.test"));
  EXPECT_EQ(MAPI_E_NOT_FOUND, Send(L"stranger's hash", {L"bob@smime.test"}, Sim::kSecuritySign, Profile(Bytes(20, 7))));
  EXPECT_EQ(MAPI_E_NOT_FOUND, Send(L"no profile", {L"bob@smime.test"}, Sim::kSecuritySign, {}));
  EXPECT_TRUE(m_cpOutlook->SentItems().empty());
}

TEST_F(SimSmimeTest, ASignedMessageCarriesTheChainAndTheSignedAttributesOutlookAdds) {
  const size_t cBefore = DroppedCount(L"bob@smime.test");
  ASSERT_EQ(S_OK,
            Send(L"signed", {L"bob@smime.test", L"dave@smime.test"}, Sim::kSecuritySign, Profile(CertHash(Cert(0)))))
      << Log();
  ASSERT_EQ(1u, m_cpOutlook->SentItems().size());
  EXPECT_EQ(cBefore + 1, DroppedCount(L"bob@smime.test"));
  const std::string sMime = Dropped(L"dave@smime.test");
  EXPECT_EQ(L"signed", Sim::InternetHeader(sMime, "Subject"));
  EXPECT_EQ(L"\"Alice Sender\" <alice@smime.test>", Sim::InternetHeader(sMime, "From"));
  EXPECT_EQ(L"dave@smime.test", Sim::InternetHeader(sMime, "Cc"));
  EXPECT_EQ(L"IPM.Note.SMIME.MultipartSigned", Sim::InternetMessageClass(sMime));

  const size_t nSignature = sMime.find("Content-Type: application/x-pkcs7-signature");
  ASSERT_NE(std::string::npos, nSignature);
  const std::string sSignature = Base64Body(sMime.substr(nSignature, sMime.rfind("\r\n------=") - nSignature));
  auto msg = Decode(sSignature, CMSG_DETACHED_FLAG);
  EXPECT_EQ(2u, MsgDword(msg.get(), CMSG_CERT_COUNT_PARAM)) << "the signer and the authority";
  DWORD cb = 0;
  ASSERT_TRUE(CryptMsgGetParam(msg.get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, nullptr, &cb));
  std::vector<BYTE> buffer(cb);
  ASSERT_TRUE(CryptMsgGetParam(msg.get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, buffer.data(), &cb));
  std::vector<std::string> oids;
  const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
  for (DWORD i = 0; i < pAttributes->cAttr; ++i) oids.push_back(pAttributes->rgAttr[i].pszObjId);
  std::sort(oids.begin(), oids.end());
  EXPECT_EQ((std::vector<std::string>{"1.2.840.113549.1.9.15", "1.2.840.113549.1.9.16.2.11", "1.2.840.113549.1.9.3",
                                      "1.2.840.113549.1.9.4", "1.2.840.113549.1.9.5", "1.3.6.1.4.1.311.16.4"}),
            oids)
      << "no security label without one in the profile";
}

TEST_F(SimSmimeTest, ASealedMessageIsForEveryRecipientWithACertificateAndTheSender) {
  ASSERT_EQ(S_OK, Send(L"sealed", {L"bob@smime.test", L"carol@smime.test", L"dave@smime.test"},
                       Sim::kSecuritySign | Sim::kSecurityEncrypt, Profile(CertHash(Cert(0)))))
      << Log();
  const std::string sMime = Dropped(L"carol@smime.test");
  EXPECT_EQ(L"IPM.Note.SMIME", Sim::InternetMessageClass(sMime));
  EXPECT_EQ(sMime, Dropped(L"bob@smime.test"));
  auto msg = Decode(Base64Body(sMime.substr(sMime.find("Content-Type:"))));
  EXPECT_EQ(static_cast<DWORD>(CMSG_ENVELOPED), MsgDword(msg.get(), CMSG_TYPE_PARAM));
  EXPECT_EQ(3u, MsgDword(msg.get(), CMSG_RECIPIENT_COUNT_PARAM)) << "Bob, Carol (from the contacts folder), Alice";
  const auto& log = m_cpOutlook->m_log;
  EXPECT_NE(log.end(),
            std::find(log.begin(), log.end(), L"No certificate for dave@smime.test: not encrypted for them"));

  // With a label the policy module decides: it knows Bob as a trusted contact, not Carol.
  ASSERT_EQ(S_OK, Send(L"signed and sealed", {L"bob@smime.test", L"dave@smime.test"},
                       Sim::kSecuritySign | Sim::kSecurityEncrypt, Profile(CertHash(Cert(0)), Label(kClassification))))
      << Log();
  const std::string sLabelled = Dropped(L"dave@smime.test");
  auto labelled = Decode(Base64Body(sLabelled.substr(sLabelled.find("Content-Type:"))));
  EXPECT_EQ(2u, MsgDword(labelled.get(), CMSG_RECIPIENT_COUNT_PARAM));
  EXPECT_TRUE(FAILED(Send(L"labelled for Carol", {L"carol@smime.test"}, Sim::kSecuritySign | Sim::kSecurityEncrypt,
                          Profile(CertHash(Cert(0)), Label(kClassification)))));
  EXPECT_EQ(L"The security label was refused", m_cpOutlook->m_log[m_cpOutlook->m_log.size() - 2]);

  // Sealed alone: no profile; the account's own certificate is the sender's.
  ASSERT_EQ(S_OK, Send(L"sealed only", {L"bob@smime.test"}, Sim::kSecurityEncrypt, {}));
  const std::string sSealed = Dropped(L"bob@smime.test");
  EXPECT_EQ(L"sealed only", Sim::InternetHeader(sSealed, "Subject"));
  auto sealed = Decode(Base64Body(sSealed.substr(sSealed.find("Content-Type:"))));
  EXPECT_EQ(2u, MsgDword(sealed.get(), CMSG_RECIPIENT_COUNT_PARAM));
  ASSERT_EQ(3u, m_cpOutlook->SentItems().size());
}

TEST_F(SimSmimeTest, DeliveryMovesTheDropsMessagesIntoTheReceiversInbox) {
  ASSERT_EQ(S_OK, Send(L"plain", {L"erin@smime.test"}, 0, {}));
  ASSERT_EQ(S_OK, Send(L"Grüße", {L"erin@smime.test"}, Sim::kSecuritySign, Profile(CertHash(Cert(0)))));
  Sim::SOutlookOptions options;
  options.accounts = {{L"erin@smime.test", L"erin@smime.test", L"Erin Receiver", L""}};
  options.wsMailDrop = m_wsDrop;
  Start(options);
  size_t cDelivered = 0;
  ASSERT_EQ(S_OK, m_cpOutlook->Deliver(&cDelivered));
  ASSERT_EQ(2u, cDelivered);
  EXPECT_EQ(0u, DroppedCount(L"erin@smime.test"));
  std::vector<std::wstring> received;
  for (IMessage* pMessage : m_cpOutlook->Folder()) {
    const Sim::PropMap& props = Sim::MessageStore(pMessage).m_props;
    received.push_back(Sim::PropText(props.at(PROP_ID(PR_SUBJECT_W))) + L" " +
                       Sim::PropText(props.at(PROP_ID(PR_MESSAGE_CLASS_W))));
    EXPECT_TRUE(props.count(PROP_ID(Sim::kInternetMessageTag)));
  }
  std::sort(received.begin(), received.end());
  EXPECT_EQ((std::vector<std::wstring>{L"Grüße IPM.Note.SMIME.MultipartSigned", L"plain IPM.Note"}), received);
}

}  // namespace
