#include "TraceFixture.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "module/Trace.h"
#include "module/TraceFormat.h"

CRegistryValues::~CRegistryValues() {
  for (const CValue& value : m_values) Delete(value.wsKey, value.wsName.c_str(), value.samView);
  for (auto it = m_createdKeys.rbegin(); it != m_createdKeys.rend(); ++it)
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, it->first.c_str(), it->second, 0);
}

// Creates the key one level at a time, so that every key it makes is known and can be removed.
HKEY CRegistryValues::Create(const std::wstring& wsKey, REGSAM samView) {
  HKEY hKey = nullptr;
  for (size_t cch = wsKey.find(L'\\');; cch = wsKey.find(L'\\', cch + 1)) {
    const std::wstring wsPrefix = wsKey.substr(0, cch);
    if (hKey) RegCloseKey(hKey);
    DWORD dwDisposition = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, wsPrefix.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS | samView, nullptr, &hKey, &dwDisposition));
    if (dwDisposition == REG_CREATED_NEW_KEY) m_createdKeys.emplace_back(wsPrefix, samView);
    if (cch == std::wstring::npos) return hKey;
  }
}

void CRegistryValues::Set(const std::wstring& wsKey, const wchar_t* wszName, DWORD dwType, const void* pvData,
                          DWORD cbData, REGSAM samView) {
  const HKEY hKey = Create(wsKey, samView);
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(hKey, wszName, 0, dwType, static_cast<const BYTE*>(pvData), cbData));
  RegCloseKey(hKey);
  m_values.push_back({wsKey, wszName, samView});
}

void CRegistryValues::SetDword(const std::wstring& wsKey, const wchar_t* wszName, DWORD dwValue, REGSAM samView) {
  Set(wsKey, wszName, REG_DWORD, &dwValue, sizeof(dwValue), samView);
}

void CRegistryValues::SetString(const std::wstring& wsKey, const wchar_t* wszName, const std::wstring& wsValue,
                                DWORD dwType, REGSAM samView) {
  Set(wsKey, wszName, dwType, wsValue.c_str(), static_cast<DWORD>((wsValue.size() + 1) * sizeof(wchar_t)), samView);
}

void CRegistryValues::Delete(const std::wstring& wsKey, const wchar_t* wszName, REGSAM samView) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wsKey.c_str(), 0, KEY_SET_VALUE | samView, &hKey) != ERROR_SUCCESS) return;
  RegDeleteValueW(hKey, wszName);
  RegCloseKey(hKey);
}

std::string CTraceFile::Kinds() const {
  std::string sKinds;
  for (const CTraceRecord& record : records) sKinds += record.chKind;
  return sKinds;
}

std::string CTraceFile::EventKinds() const {
  std::string sKinds = Kinds();
  std::erase_if(sKinds, [](char ch) { return ch == 't' || ch == 'T'; });
  return sKinds;
}

std::vector<std::string> CTraceFile::HeaderLines() const {
  std::vector<std::string> lines;
  for (size_t i = 0; i < sHeader.size();) {
    const size_t iEnd = sHeader.find("\r\n", i);
    if (iEnd == std::string::npos) break;
    lines.push_back(sHeader.substr(i, iEnd - i));
    i = iEnd + 2;
  }
  return lines;
}

std::vector<std::string> CTraceFile::Texts(char chKind) const {
  std::vector<std::string> texts;
  for (const CTraceRecord& record : records)
    if (record.chKind == chKind) texts.push_back(record.sText);
  return texts;
}

CTraceFile ReadTraceFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  const std::string sData((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  CTraceFile file;
  size_t iPos = 0;
  if (sData.starts_with(VmTraceNS::TRACE_HEADER_FIRST_LINE)) {
    const std::string sEnd = std::string("\r\n") + VmTraceNS::TRACE_HEADER_LAST_LINE;
    const size_t iEnd = sData.find(sEnd);
    EXPECT_NE(std::string::npos, iEnd) << "header without its end line";
    iPos = iEnd == std::string::npos ? sData.size() : iEnd + sEnd.size();
    file.sHeader = sData.substr(0, iPos);
  }
  while (iPos < sData.size()) {
    if (sData.size() - iPos < VmTraceNS::TRACE_RECORD_HEADER_SIZE) {
      ADD_FAILURE() << "truncated record at " << iPos;
      break;
    }
    const auto* pb = reinterpret_cast<const uint8_t*>(sData.data() + iPos);
    CTraceRecord record;
    record.dwThreadId = pb[0] | pb[1] << 8 | pb[2] << 16 | static_cast<uint32_t>(pb[3]) << 24;
    record.chKind = static_cast<char>(pb[4]);
    const size_t cbText = pb[5] | pb[6] << 8;
    iPos += VmTraceNS::TRACE_RECORD_HEADER_SIZE;
    if (sData.size() - iPos < cbText) {
      ADD_FAILURE() << "truncated record text at " << iPos;
      break;
    }
    record.sText = sData.substr(iPos, cbText);
    VmTraceNS::DecipherRecordText(reinterpret_cast<uint8_t*>(record.sText.data()), cbText);
    iPos += cbText;
    file.records.push_back(record);
  }
  return file;
}

void TraceTest::SetUp() {
  wchar_t wszTemp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, wszTemp);
  const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
  std::wostringstream name;
  name << L"vmtrace-" << pInfo->name() << L"-" << GetCurrentProcessId();
  m_dir = std::filesystem::path(wszTemp) / name.str();
  std::filesystem::create_directories(m_dir);
  m_file = m_dir / L"test.trc3";
}

void TraceTest::TearDown() {
  VmTraceNS::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

void TraceTest::SwitchOn() {
  SetTracing(L"DoTrace", 1);
  m_registry.SetString(TRACING_KEY, L"FileName", m_file.wstring());
}

void TraceTest::AddComponent(const wchar_t* wszList, const wchar_t* wszName) {
  m_registry.SetString(std::wstring(TRACING_KEY) + L"\\" + wszList, wszName, L"");
}

void StartTracing() { VmTraceNS::SetModuleHandle(GetModuleHandleW(nullptr)); }
