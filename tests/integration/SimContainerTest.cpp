// The encrypted document file of the simulated Word, Excel and PowerPoint: what is written reads
// back, and damaged files are refused with a reason.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/FileBytes.h"
#include "SimCompoundFile.h"
#include "SimContainer.h"
#include "com/ComPtr.h"

namespace {

using Sim::SEncryptedContainer;

class SimContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t wszFolder[MAX_PATH] = {}, wszFile[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszFolder);
    GetTempFileNameW(wszFolder, L"doc", 0, wszFile);
    m_wsPath = wszFile;
    m_container.wsProviderId = L"{0F9A36C7-8501-4224-A39D-054EF270C86F}";
    m_container.wsProviderUrl = L"https://example.org/";
    for (int i = 0; i < 300; ++i) m_container.providerData.push_back(static_cast<BYTE>(i * 7));
    m_container.cbPackage = 1020;
    m_container.encryptedPackage.assign(1024, 0x5A);
  }
  void TearDown() override {
    DeleteFileW(m_wsPath.c_str());
    CoUninitialize();
  }

  // Replaces one stream of the written file.
  void ReplaceStream(const wchar_t* wszName, const std::vector<BYTE>& bytes) {
    CComPtr<IStorage> cpRoot;
    ASSERT_EQ(S_OK,
              StgOpenStorage(m_wsPath.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &cpRoot));
    cpRoot->DestroyElement(wszName);
    if (bytes.empty()) return;
    CComPtr<IStream> cpStream;
    ASSERT_EQ(S_OK, cpRoot->CreateStream(wszName, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &cpStream));
    ULONG cbWritten = 0;
    cpStream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &cbWritten);
  }
  std::vector<BYTE> ReadStream(const wchar_t* wszName) {
    CComPtr<IStorage> cpRoot;
    CComPtr<IStream> cpStream;
    std::vector<BYTE> bytes(4096);
    ULONG cbRead = 0;
    if (SUCCEEDED(StgOpenStorage(m_wsPath.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &cpRoot)) &&
        SUCCEEDED(cpRoot->OpenStream(wszName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &cpStream)))
      cpStream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &cbRead);
    bytes.resize(cbRead);
    return bytes;
  }
  void WriteFileBytes(const std::vector<BYTE>& bytes) {
    HANDLE hFile = CreateFileW(m_wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD cbWritten = 0;
    WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
  }
  HRESULT Read(SEncryptedContainer* pContainer, std::wstring* pwsWhy) {
    return Sim::ReadEncryptedContainer(m_wsPath, pContainer, pwsWhy);
  }

  std::wstring m_wsPath;
  SEncryptedContainer m_container;
};

TEST_F(SimContainer, WhatIsWrittenReadsBackWithTheExtensibleHeaderFirst) {
  ASSERT_EQ(S_OK, Sim::WriteEncryptedContainer(m_wsPath, m_container));
  SEncryptedContainer read;
  std::wstring wsWhy;
  ASSERT_EQ(S_OK, Read(&read, &wsWhy)) << wsWhy;
  EXPECT_EQ(m_container.wsProviderId, read.wsProviderId);
  EXPECT_EQ(m_container.wsProviderUrl, read.wsProviderUrl);
  EXPECT_EQ(m_container.providerData, read.providerData);
  EXPECT_EQ(m_container.cbPackage, read.cbPackage);
  EXPECT_EQ(m_container.encryptedPackage, read.encryptedPackage);
  const std::vector<BYTE> info = ReadStream(L"EncryptionInfo");
  ASSERT_GE(info.size(), 12u);
  EXPECT_EQ((std::vector<BYTE>{4, 0, 3, 0, 0x10, 0, 0, 0}), std::vector<BYTE>(info.begin(), info.begin() + 8));
  EXPECT_EQ(8u + 1024u, ReadStream(L"EncryptedPackage").size());
}

TEST_F(SimContainer, APlainFileIsNoContainerAndDamagedOnesAreRefusedWithAReason) {
  WriteFileBytes({'p', 'l', 'a', 'i', 'n'});
  SEncryptedContainer read;
  std::wstring wsWhy;
  EXPECT_EQ(S_FALSE, Read(&read, &wsWhy));

  ASSERT_EQ(S_OK, Sim::WriteEncryptedContainer(m_wsPath, m_container));
  const std::vector<BYTE> info = ReadStream(L"EncryptionInfo");
  std::vector<BYTE> notExternal = info, hugeHeader = info, noData = info, twoProviders = info;
  notExternal[4] = 0x24;
  hugeHeader[9] = 0x7F;
  const std::wstring wsTag = L"<EncryptionProviderData>";
  const auto itTag = std::search(noData.begin(), noData.end(), reinterpret_cast<const BYTE*>(wsTag.data()),
                                 reinterpret_cast<const BYTE*>(wsTag.data() + wsTag.size()));
  ASSERT_NE(noData.end(), itTag);
  *itTag = 'X';
  twoProviders[12 + 32 + 2] ^= 1;  // the class id in the header differs from the one in the XML
  const std::vector<std::vector<BYTE>> damagedInfos = {{4, 0, 3, 0}, notExternal, hugeHeader, noData, twoProviders};
  for (const std::vector<BYTE>& damaged : damagedInfos) {
    ASSERT_EQ(S_OK, Sim::WriteEncryptedContainer(m_wsPath, m_container));
    ReplaceStream(L"EncryptionInfo", damaged);
    wsWhy.clear();
    EXPECT_TRUE(FAILED(Read(&read, &wsWhy))) << damaged.size();
    EXPECT_FALSE(wsWhy.empty());
  }
  const std::vector<std::vector<BYTE>> damagedPackages = {{}, {1, 2, 3}, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 1, 2}};
  for (const std::vector<BYTE>& damaged : damagedPackages) {
    ASSERT_EQ(S_OK, Sim::WriteEncryptedContainer(m_wsPath, m_container));
    ReplaceStream(L"EncryptedPackage", damaged);
    wsWhy.clear();
    EXPECT_TRUE(FAILED(Read(&read, &wsWhy))) << damaged.size();
    EXPECT_FALSE(wsWhy.empty());
  }
}

// A compound file cut short, or one whose sectors chain in a loop, is refused at once: the
// platform's reader would follow such a chain for good.
TEST_F(SimContainer, ACompoundFileCutShortOrChainedInALoopIsRefusedAtOnce) {
  // A package beyond the mini stream, so that its chain is one of whole sectors.
  m_container.encryptedPackage.assign(6000, 0x5A);
  m_container.cbPackage = 6000;
  ASSERT_EQ(S_OK, Sim::WriteEncryptedContainer(m_wsPath, m_container));
  const std::vector<BYTE> file = ReadFileBytes(m_wsPath);
  std::wstring wsWhy;
  ASSERT_EQ(S_OK, Sim::CheckCompoundFile(file, &wsWhy)) << wsWhy;
  for (size_t cb = 8; cb < file.size(); cb += 500)
    EXPECT_EQ(STG_E_DOCFILECORRUPT, Sim::CheckCompoundFile({file.begin(), file.begin() + cb}, &wsWhy)) << cb;

  DWORD dwFatSector = 0;
  CopyMemory(&dwFatSector, file.data() + 76, sizeof dwFatSector);
  std::vector<BYTE> loop = file;
  DWORD* pFat = reinterpret_cast<DWORD*>(loop.data() + (dwFatSector + 1) * 512);
  DWORD dwLinked = 0;
  while (dwLinked < 128 && pFat[dwLinked] != dwLinked + 1) ++dwLinked;
  ASSERT_LT(dwLinked, 128u) << "no sector links to the next";
  pFat[dwLinked] = dwLinked;
  EXPECT_EQ(STG_E_DOCFILECORRUPT, Sim::CheckCompoundFile(loop, &wsWhy));

  // Through the reader, as an application opens it.
  WriteFileBytes({file.begin(), file.begin() + 3000});
  SEncryptedContainer read;
  wsWhy.clear();
  EXPECT_EQ(STG_E_DOCFILECORRUPT, Read(&read, &wsWhy));
  EXPECT_EQ(0u, wsWhy.find(L"the compound file is damaged: ")) << wsWhy;
}

}  // namespace
