#pragma once
// Names one message by its search key and record key, and keeps per-message state
// (security choices, invitation types) in process-wide tables under that name.
#include <windows.h>
#include <mapix.h>

#include "com/Bstr.h"

// Reads one binary property into memory freed with CoTaskMemFree; a value too large
// to read whole is read through its stream.
HRESULT GetBinaryProp(IMAPIProp* pProp, ULONG ulTag, BYTE** ppb, ULONG* pcb);

class CMailItemKey {
 public:
  CMailItemKey() = default;
  // pMailItem: an Outlook _MailItem. A message without a search key gets one.
  explicit CMailItemKey(IDispatch* pMailItem);
  // A key of two texts that name something else than a message (such as a control).
  CMailItemKey(const wchar_t* wszSearchKey, const wchar_t* wszRecordKey)
      : m_bsSearchKey(wszSearchKey), m_bsRecordKey(wszRecordKey) {}

  bool IsValid() const { return m_bsSearchKey.Length() != 0; }
  bool operator==(const CMailItemKey& other) const;
  const wchar_t* SearchKey() const { return m_bsSearchKey.c_str(); }
  const wchar_t* RecordKey() const { return m_bsRecordKey.c_str(); }

 private:
  CComBSTR m_bsSearchKey;
  CComBSTR m_bsRecordKey;
};

// Writes the security properties of an outgoing message (its certificate and flags).
class IMessageSecurity {
 public:
  virtual HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL bSign, BOOL bSeal, BSTR* pbsContainer) = 0;

 protected:
  ~IMessageSecurity() = default;
};

// Security choices of the compose window: bit 0x1 sign, 0x2 seal.
constexpr DWORD kSecuritySign = 0x1;
constexpr DWORD kSecuritySeal = 0x2;

HRESULT PresetMessageSecurity(IDispatch* pMailItem, BOOL bSign, BOOL bSeal);
HRESULT ApplyMessageSecurity(IDispatch* pMailItem, BSTR* pbsContainer, IMessageSecurity& security);
HRESULT RemoveMessageSecurityData(const CMailItemKey& key);
