#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "../support/RegistrySandbox.h"
#include "fixtures/FakePolicyService.h"
#include "module/PolicyService.h"
#include "module/Settings.h"

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr wchar_t kPathPrefix[] = L"Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\";

// A fake service, configured before the loader under test loads it (which then gets the same
// module), and that loader.
class CFakeService {
 public:
  CFakeService(const wchar_t* wszName, const CFakePolicyAnswer& answer) : m_hModule(LoadLibraryW(wszName)) {
    EXPECT_NE(nullptr, m_hModule) << "fake policy service missing beside the tests";
    Answer(answer);
    m_pLoader = std::make_unique<CVmFPApiLoader>(wszName);
  }
  ~CFakeService() {
    m_pLoader.reset();
    FreeLibrary(m_hModule);
  }
  CFakeService(const CFakeService&) = delete;
  CFakeService& operator=(const CFakeService&) = delete;

  const CVmFPApiLoader& Loader() const { return *m_pLoader; }
  void Answer(const CFakePolicyAnswer& answer) const {
    GetExport<PFN_FAKE_POLICY_CONFIGURE>("FakePolicyConfigure")(&answer);
  }
  const CFakePolicyLog& Log() const { return *GetExport<PFN_FAKE_POLICY_LOG>("FakePolicyLog")(); }

 private:
  template <class TFunction>
  TFunction GetExport(const char* szName) const {
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(GetProcAddress(m_hModule, szName)));
  }

  HMODULE m_hModule;
  std::unique_ptr<CVmFPApiLoader> m_pLoader;
};

CFakePolicyAnswer Delivering(DWORD dwType, DWORD dwValue, HRESULT hrResult = S_OK) {
  return {S_OK, S_OK, hrResult, dwType, dwValue};
}

// The query's result and the value after it, for a preset default.
std::pair<HRESULT, DWORD> Ask(const CVmFPApiLoader& loader, const wchar_t* wszName, DWORD dwDefault) {
  DWORD dwValue = dwDefault;
  const HRESULT hr = loader.fGetPolicySetting(wszName, &dwValue);
  return {hr, dwValue};
}

template <class T>
T FieldAt(const CFakePolicyLog& log, size_t cbOffset) {
  T value;
  memcpy(&value, log.abRecord + cbOffset, sizeof(value));
  return value;
}

TEST(PolicyServiceTest, TheServiceGetsOneExtendedRecordWithThePathAndZeroedFields) {
  const CFakeService service(L"FakeVmFPApi.dll", Delivering(VMFP_TYPE_NUMBER, 0));
  EXPECT_EQ(std::make_pair(S_OK, 0ul), Ask(service.Loader(), kPublishingPolicy, 1));

  const CFakePolicyLog& log = service.Log();
  EXPECT_EQ(1u, log.dwCalls);
  EXPECT_EQ(1u, log.dwCount);
  EXPECT_EQ(std::wstring(kPathPrefix) + L"PublishingPolicy", log.wszPath);
  // Offset 0 holds the pointer to the path; the other 32 bytes of the 40 arrive as zeros.
  EXPECT_NE(0u, FieldAt<UINT_PTR>(log, 0));
  for (size_t cbOffset = 8; cbOffset < sizeof(VMFP_POLICY_SETTING_EX); cbOffset += 4)
    EXPECT_EQ(0u, FieldAt<DWORD>(log, cbOffset)) << "offset " << cbOffset;
}

TEST(PolicyServiceTest, OnlyNumbersAndFlagsWithASuccessfulResultAreDelivered) {
  const CFakeService service(L"FakeVmFPApi.dll", Delivering(VMFP_TYPE_NUMBER, 0));
  struct {
    CFakePolicyAnswer answer;
    HRESULT hrExpected;
    DWORD dwExpected;
  } const cases[] = {
      {Delivering(VMFP_TYPE_NUMBER, 0x11), S_OK, 0x11},
      {Delivering(VMFP_TYPE_FLAGS, 0x22), S_OK, 0x22},
      {Delivering(VMFP_TYPE_FLAGS, 0x33, S_FALSE), S_FALSE, 0x33},
      {Delivering(VMFP_TYPE_TEXT, 0x44), S_OK, 7},
      {Delivering(0, 0x55), S_OK, 7},
      {Delivering(5, 0x66), S_OK, 7},
      {Delivering(VMFP_TYPE_NUMBER, 0x77, E_ACCESSDENIED), E_ACCESSDENIED, 7},
      // A failed call leaves the record unread.
      {{S_OK, E_FAIL, S_OK, VMFP_TYPE_NUMBER, 0x88}, kNotFound, 7},
  };
  for (const auto& test : cases) {
    service.Answer(test.answer);
    EXPECT_EQ(std::make_pair(test.hrExpected, test.dwExpected), Ask(service.Loader(), kEncryptionPolicyEmail, 7))
        << "type " << test.answer.dwType;
  }
}

TEST(PolicyServiceTest, WithoutAServiceEveryQueryIsNotFoundAndKeepsTheDefault) {
  const CVmFPApiLoader missing(L"NoSuchPolicyService.dll");
  EXPECT_EQ(std::make_pair(kNotFound, 1ul), Ask(missing, kPublishingPolicy, 1));

  // A failed VmFPInit leaves the library loaded but never asked.
  const CFakeService refused(L"FakeVmFPApi.dll", {E_FAIL, S_OK, S_OK, VMFP_TYPE_NUMBER, 0});
  EXPECT_EQ(std::make_pair(kNotFound, 1ul), Ask(refused.Loader(), kEncryptionPolicyMSO, 1));
  EXPECT_EQ(0u, refused.Log().dwCalls);

  // The short record cannot hold the module's paths, so a service without the extended call is not asked.
  const CFakeService shortOnly(L"FakeVmFPApiShort.dll", Delivering(VMFP_TYPE_NUMBER, 0));
  EXPECT_EQ(std::make_pair(kNotFound, 1ul), Ask(shortOnly.Loader(), kPublishingPolicy, 1));
  EXPECT_EQ(0u, shortOnly.Log().dwCalls);
}

TEST(PolicyServiceTest, PublishedCertificatesNeedThePolicyAndTheUsersChoice) {
  const CRegistrySandbox sandbox;
  SetShowPublishedCerts(true);
  EXPECT_EQ(1u, ReadUserSetting(kShowPublishedCerts));

  // Without the service the policy's default forbids publishing.
  const CVmFPApiLoader missing(L"NoSuchPolicyService.dll");
  EXPECT_FALSE(IsPublishingAllowed(missing));
  EXPECT_FALSE(GetShowPublishedCerts(missing));

  const CFakeService service(L"FakeVmFPApi.dll", Delivering(VMFP_TYPE_NUMBER, 0));
  EXPECT_TRUE(IsPublishingAllowed(service.Loader()));
  EXPECT_TRUE(GetShowPublishedCerts(service.Loader()));
  SetShowPublishedCerts(false);
  EXPECT_FALSE(GetShowPublishedCerts(service.Loader()));

  SetShowPublishedCerts(true);
  service.Answer(Delivering(VMFP_TYPE_FLAGS, 0x3));
  EXPECT_FALSE(GetShowPublishedCerts(service.Loader()));
  service.Answer(Delivering(VMFP_TYPE_FLAGS, 0x2));
  EXPECT_TRUE(GetShowPublishedCerts(service.Loader()));
}

}  // namespace
