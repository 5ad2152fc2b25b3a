// Invitations made of the simulated Outlook's items by the core library: the invitation table,
// the texts of the certificate library and the certificate attachment.
#include <mapiutil.h>

#include <string>
#include <vector>

#include "../unit/SessionTestSupport.h"
#include "OutlookFixture.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/Invitations.h"
#include "mail/ItemText.h"
#include "mail/MapiApi.h"
#include "module/AddInModule.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "res/StringIds.h"

namespace {

std::wstring Text(IDispatch* pItem, const wchar_t* wszName) {
  std::wstring ws;
  EXPECT_EQ(S_OK, GetTextProperty(pItem, wszName, &ws)) << wszName;
  return ws;
}

struct SAttachment {
  std::wstring wsDisplayName, wsLongName, wsShortName;
  LONG lMethod = 0;
  std::vector<BYTE> data;
};

std::wstring TextOf(const SPropValue& value) {
  return PROP_TYPE(value.ulPropTag) == PT_UNICODE ? value.Value.lpszW : L"?";
}

// The attachments as the message's table lists them, each opened for its properties.
std::vector<SAttachment> Attachments(IMessage* pMessage) {
  std::vector<SAttachment> attachments;
  CComPtr<IMAPITable> cpTable;
  EXPECT_EQ(S_OK, pMessage->GetAttachmentTable(0, &cpTable));
  SRowSet* pRows = nullptr;
  EXPECT_EQ(S_OK, cpTable->QueryRows(100, 0, &pRows));
  for (ULONG i = 0; pRows && i < pRows->cRows; ++i) {
    const SPropValue* pNum = MapiApi::FindProp(pRows->aRow[i], PR_ATTACH_NUM);
    CComPtr<IAttach> cpAttach;
    EXPECT_EQ(S_OK, pMessage->OpenAttach(pNum ? pNum->Value.l : -1, nullptr, 0, &cpAttach));
    if (!cpAttach) continue;
    SizedSPropTagArray(5, tags) = {
        5, {PR_DISPLAY_NAME_W, PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_FILENAME_W, PR_ATTACH_METHOD, PR_ATTACH_DATA_BIN}};
    ULONG cValues = 0;
    SPropValue* pValues = nullptr;
    cpAttach->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &cValues, &pValues);
    SAttachment attachment{TextOf(pValues[0]), TextOf(pValues[1]), TextOf(pValues[2]), pValues[3].Value.l, {}};
    if (pValues[4].ulPropTag == PR_ATTACH_DATA_BIN)
      attachment.data.assign(pValues[4].Value.bin.lpb, pValues[4].Value.bin.lpb + pValues[4].Value.bin.cb);
    MapiApi::FreeBuffer(pValues);
    attachments.push_back(attachment);
  }
  MapiApi::FreeRows(pRows);
  return attachments;
}

// The module's texts come from its English satellite as installed in the prefix, as DllMain makes
// it the resource module of VmOfcX.dll.
class InvitationTest : public COutlookTest {
 protected:
  void SetUp() override {
    COutlookTest::SetUp();
    wchar_t wszFolder[MAX_PATH] = {};
    DWORD cbFolder = sizeof(wszFolder);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", L"VelmoraPath", RRF_RT_REG_SZ,
                                          nullptr, wszFolder, &cbFolder));
    m_hSatellite = LoadLibraryExW((std::wstring(wszFolder) + L"\\en-US\\VmOfcX.dll.mui").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, m_hSatellite);
    m_module.SetResourceInstance(m_hSatellite);
  }
  void TearDown() override {
    COutlookTest::TearDown();
    if (m_hSatellite) FreeLibrary(m_hSatellite);
  }

  CAddInModule m_module{{}};
  HMODULE m_hSatellite = nullptr;
};

TEST_F(InvitationTest, AnInvitationTakesTheChosenLanguagesTextsAndIsKnownUntilItCloses) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  IDispatch* pItem = pOutlook->MailItem(pInspector->Message());
  ASSERT_EQ(S_OK, PutTextProperty(pItem, L"Subject", L"Old subject"));
  EXPECT_EQ(kInvitationNone, GetInvitationType(pItem));

  HWND hOwner = nullptr;
  const InvitationLanguageChooser chooseGerman = [&hOwner](HWND hwnd) {
    hOwner = hwnd;
    return std::wstring(L"00000407");
  };
  ASSERT_EQ(S_OK, SetupInvitation(pItem, &chooseGerman, L"00000409"));
  EXPECT_EQ(pInspector->Window(), hOwner);

  const CCertLibrary certLib;
  CLibraryString wsBody(certLib), wsSubject(certLib);
  ASSERT_EQ(S_OK, certLib.BM_GetTextBuddyRequest(L"00000407", wsBody.Out(), wsSubject.Out()));
  EXPECT_EQ(wsSubject.Get(), Text(pItem, L"Subject"));
  EXPECT_EQ(wsBody.Get(), Text(pItem, L"Body"));
  EXPECT_EQ(kInvitation, GetInvitationType(pItem));

  // A reply made of the same message replaces its entry; closing drops it.
  ASSERT_EQ(S_OK, SetupInvitationReply(pItem, nullptr));
  ASSERT_EQ(S_OK, certLib.BM_GetTextBuddyReply(nullptr, wsBody.Out(), wsSubject.Out()));
  EXPECT_EQ(wsSubject.Get(), Text(pItem, L"Subject"));
  EXPECT_EQ(kInvitationReply, GetInvitationType(pItem));
  EXPECT_EQ(S_OK, RemoveInvitationData(CMailItemKey(pItem)));
  EXPECT_EQ(kInvitationNone, GetInvitationType(pItem));

  // A language the library refuses leaves the message as it was and unrecorded.
  EXPECT_TRUE(FAILED(SetupInvitation(pItem, nullptr, L"German")));
  EXPECT_EQ(kInvitationNone, GetInvitationType(pItem));
}

TEST_F(InvitationTest, AnItemWithoutKeyIsRefused) {
  Start();
  CComPtr<Sim::CDispatch> cpItem;
  cpItem.Attach(new Sim::CDispatch({Outlook::IID__MailItem}));
  EXPECT_EQ(E_INVALIDARG, SetupInvitation(cpItem, nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, SetupInvitationReply(cpItem, nullptr));
  EXPECT_EQ(kInvitationNone, GetInvitationType(cpItem));
  EXPECT_EQ(E_INVALIDARG, RemoveInvitationData(CMailItemKey(cpItem)));
  EXPECT_EQ(E_POINTER, SetupInvitation(nullptr, nullptr, nullptr));
}

TEST_F(InvitationTest, TheCertificateAttachmentIsReplacedAndHoldsExactlyTheEncodedCertificate) {
  Sim::COutlook* pOutlook = Start();
  CComPtr<IMessage> cpMessage;
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Invitation", &cpMessage));
  PCCERT_CONTEXT pCert = SessionTest::MakeCertificate(L"Invitation sender");
  ASSERT_NE(nullptr, pCert);

  // Another attachment stays; a second certificate replaces the first, whatever its kind.
  CComPtr<IAttach> cpOther;
  ULONG ulNum = 0;
  ASSERT_EQ(S_OK, cpMessage->CreateAttach(nullptr, 0, &ulNum, &cpOther));
  SPropValue name = {};
  name.ulPropTag = PR_DISPLAY_NAME_W;
  name.Value.lpszW = const_cast<LPWSTR>(L"notes.txt");
  ASSERT_EQ(S_OK, cpOther->SetProps(1, &name, nullptr));
  ASSERT_EQ(S_OK, cpOther->SaveChanges(0));
  ASSERT_EQ(S_OK, AttachCertificate(cpMessage, pCert, kInvitation));
  ASSERT_EQ(S_OK, AttachCertificate(cpMessage, pCert, kInvitation));
  ASSERT_EQ(S_OK, AttachCertificate(cpMessage, pCert, kInvitationReply));

  const std::vector<SAttachment> attachments = Attachments(cpMessage);
  ASSERT_EQ(2u, attachments.size());
  EXPECT_EQ(L"notes.txt", attachments[0].wsDisplayName);
  const SAttachment& certificate = attachments[1];
  EXPECT_EQ(ATTACH_BY_VALUE, certificate.lMethod);
  EXPECT_EQ(L"My certificate.vmcrr", certificate.wsDisplayName);
  EXPECT_EQ(certificate.wsDisplayName, certificate.wsLongName);
  EXPECT_EQ(L"My certi", certificate.wsShortName);
  EXPECT_EQ(std::vector<BYTE>(pCert->pbCertEncoded, pCert->pbCertEncoded + pCert->cbCertEncoded), certificate.data);
  EXPECT_EQ(0u, Sim::MessageSaveCount(cpMessage));

  EXPECT_EQ(E_INVALIDARG, AttachCertificate(cpMessage, pCert, kInvitationNone));
  EXPECT_EQ(E_POINTER, AttachCertificate(cpMessage, nullptr, kInvitation));
  CertFreeCertificateContext(pCert);
}

TEST_F(InvitationTest, TheAdvertisementJoinsAPlainOrHtmlBodyOnce) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  IDispatch* pItem = pOutlook->MailItem(pInspector->Message());
  const std::wstring wsAdvert = LoadResourceString(IDS_ADVERT_TEXT);
  ASSERT_NE(std::wstring::npos, wsAdvert.find(L"Tessaly"));

  ASSERT_EQ(S_OK, PutTextProperty(pItem, L"Body", L"Dear Bob"));
  ASSERT_EQ(S_OK, InsertAdvertisement(pItem));
  ASSERT_EQ(S_OK, InsertAdvertisement(pItem));
  EXPECT_EQ(L"Dear Bob\r\n\r\n" + wsAdvert + L"\r\n", Text(pItem, L"Body"));

  // HTML: before the end of the body, whatever its case; without one, nowhere.
  ASSERT_EQ(S_OK, PutTextProperty(pItem, L"HTMLBody", L"<html><BODY><p>Hi</p></Body></html>"));
  ASSERT_EQ(S_OK, InsertAdvertisement(pItem));
  const std::wstring wsWithAdvert =
      L"<html><BODY><p>Hi</p><p style=\"font-size:smaller\">" + wsAdvert + L"</p></Body></html>";
  EXPECT_EQ(wsWithAdvert, Text(pItem, L"HTMLBody"));
  ASSERT_EQ(S_OK, InsertAdvertisement(pItem));
  EXPECT_EQ(wsWithAdvert, Text(pItem, L"HTMLBody"));
  ASSERT_EQ(S_OK, PutTextProperty(pItem, L"HTMLBody", L"<p>A fragment</p>"));
  ASSERT_EQ(S_OK, InsertAdvertisement(pItem));
  EXPECT_EQ(L"<p>A fragment</p>", Text(pItem, L"HTMLBody"));

  // Already there in another case: not again. Rich text: left alone.
  std::wstring wsUpper = L"Hi\r\n" + wsAdvert;
  CharUpperW(wsUpper.data());
  ASSERT_EQ(S_OK, LateBound::PutProperty(pItem, L"BodyFormat", CComVariant(LONG{1})));
  ASSERT_EQ(S_OK, PutTextProperty(pItem, L"Body", wsUpper));
  ASSERT_EQ(S_OK, InsertAdvertisement(pItem));
  EXPECT_EQ(wsUpper, Text(pItem, L"Body"));
  ASSERT_EQ(S_OK, LateBound::PutProperty(pItem, L"BodyFormat", CComVariant(LONG{3})));
  ASSERT_EQ(S_OK, PutTextProperty(pItem, L"Body", L"Rich"));
  ASSERT_EQ(S_OK, InsertAdvertisement(pItem));
  EXPECT_EQ(L"Rich", Text(pItem, L"Body"));
}

}  // namespace
