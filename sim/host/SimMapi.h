#pragma once
// In-memory MAPI: messages with properties, streams and attachments, tables, and a
// session whose profile (services and profile sections) is kept in a file.
#include <windows.h>
#include <mapix.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"

namespace Sim {

// One property: its tag and its value's bytes (strings with their terminator).
struct SProp {
  ULONG ulTag = 0;
  std::vector<BYTE> data;
};
using PropMap = std::map<ULONG, SProp>;  // by property id

SProp MakeBinaryProp(ULONG ulTag, const void* pv, size_t cb);
SProp MakeUnicodeProp(ULONG ulTag, const std::wstring& ws);
SProp MakeString8Prop(ULONG ulTag, const std::string& s);
SProp MakeLongProp(ULONG ulTag, LONG l);
// A multi-valued binary property (PT_MV_BINARY) and its values.
SProp MakeMultiBinaryProp(ULONG ulTag, const std::vector<std::vector<BYTE>>& values);
std::vector<std::vector<BYTE>> MultiBinaryValues(const SProp& prop);
std::wstring PropText(const SProp& prop);

// Binary values above this size are refused by GetProps, as a real store refuses large
// values: they are read through OpenProperty.
constexpr size_t kLargeValue = 16 * 1024;

class CPropStore {
 public:
  PropMap m_props;
  std::map<std::wstring, ULONG> m_named;  // "{guid}:name" or "{guid}#id" to property id
  bool m_bReadOnly = false;               // opened without write access: writes fail with MAPI_E_NO_ACCESS
};

// A table of rows of properties.
HRESULT CreateTable(std::vector<std::vector<SProp>> rows, IMAPITable** ppTable);

// A new message with an entry id.
HRESULT CreateMessage(IMessage** ppMessage);
// The properties and save count of a message made by CreateMessage, for the object model.
CPropStore& MessageStore(IMessage* pMessage);
ULONG MessageSaveCount(IMessage* pMessage);
// The properties of each saved attachment of such a message, in attachment-number order, and its
// recipient rows, as Outlook's own engine reads them.
std::vector<PropMap> MessageAttachments(IMessage* pMessage);
const std::vector<std::vector<SProp>>& MessageRecipients(IMessage* pMessage);

// The services and profile sections of one profile, saved to a file at every change.
class CProfile {
 public:
  explicit CProfile(std::wstring wsPath);
  struct SService {
    std::string sName;
    MAPIUID uid;
    ULONG ulConfigured = 0;
  };
  std::vector<SService> m_services;
  std::map<std::wstring, std::shared_ptr<CPropStore>> m_sections;  // by section UID text

  std::shared_ptr<CPropStore> Section(const MAPIUID& uid);
  void Save() const;

 private:
  void Load();
  std::wstring m_wsPath;
};

// An address-book entry (a mail user) over a property store.
HRESULT CreateMailUser(std::shared_ptr<CPropStore> spStore, IMailUser** ppUser);

// Opens an entry of the session (a message or a mail user) by its entry id: sets its object
// type and hands out a reference, or answers null.
using EntryLookup = std::function<IUnknown*(const std::vector<BYTE>& entryId, ULONG* pulType)>;
// The session of a profile; sProfileName is what its status table names the MAPI subsystem.
HRESULT CreateSession(std::shared_ptr<CProfile> spProfile, const std::string& sProfileName, EntryLookup lookup,
                      IMAPISession** ppSession);

}  // namespace Sim
