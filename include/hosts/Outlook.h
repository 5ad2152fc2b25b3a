#pragma once
// Outlook and Word object-model ids that the add-in queries or the simulator answers.
// Members are reached by name through IDispatch; the dispatch ids are the published ones.
#include <objbase.h>

namespace Outlook {

#define VM_OUTLOOK_IID(name, l1) \
  inline constexpr IID name = {l1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}
VM_OUTLOOK_IID(IID__Application, 0x00063001);
// Outlook.Application, under which Outlook enters itself in the running object table.
VM_OUTLOOK_IID(CLSID_Application, 0x0006F03A);
VM_OUTLOOK_IID(IID__NameSpace, 0x00063002);
VM_OUTLOOK_IID(IID__Explorer, 0x00063003);
VM_OUTLOOK_IID(IID__Inspector, 0x00063005);
VM_OUTLOOK_IID(IID__Inspectors, 0x00063008);
VM_OUTLOOK_IID(IID__Explorers, 0x0006300A);
VM_OUTLOOK_IID(IID__MailItem, 0x00063034);
VM_OUTLOOK_IID(IID__ContactItem, 0x00063021);
VM_OUTLOOK_IID(IID__AppointmentItem, 0x00063033);
VM_OUTLOOK_IID(IID__TaskItem, 0x00063035);
VM_OUTLOOK_IID(IID__TaskRequestItem, 0x00063036);
VM_OUTLOOK_IID(IID__MeetingItem, 0x00063062);
VM_OUTLOOK_IID(IID__Items, 0x00063041);
VM_OUTLOOK_IID(IID_MAPIFolder, 0x00063006);
VM_OUTLOOK_IID(IID_Selection, 0x00063087);
VM_OUTLOOK_IID(IID_Recipient, 0x00063045);
VM_OUTLOOK_IID(IID_Recipients, 0x0006303B);
VM_OUTLOOK_IID(IID__Accounts, 0x000630C4);
VM_OUTLOOK_IID(IID__Account, 0x000630C5);
VM_OUTLOOK_IID(DIID_ApplicationEvents_11, 0x0006302C);
VM_OUTLOOK_IID(DIID_ExplorersEvents, 0x00063078);
VM_OUTLOOK_IID(DIID_InspectorsEvents, 0x00063079);
VM_OUTLOOK_IID(DIID_ExplorerEvents_10, 0x0006300F);
VM_OUTLOOK_IID(DIID_InspectorEvents_10, 0x0006302A);
VM_OUTLOOK_IID(DIID_ItemEvents_10, 0x0006302B);
#undef VM_OUTLOOK_IID

// OlPane, OlEditorType, OlItemType, OlObjectClass, OlDefaultFolders, OlInspectorClose.
enum { olPreview = 3 };
enum { olEditorText = 1, olEditorHTML = 2, olEditorRTF = 3, olEditorWord = 4 };
enum { olMailItem = 0, olAppointmentItem = 1, olContactItem = 2, olTaskItem = 3 };
enum { olAppointment = 26, olContact = 40, olTask = 48, olTaskRequest = 49, olMail = 43, olMeetingRequest = 53 };
enum { olNonMeeting = 0, olMeeting = 1 };
enum { olFolderContacts = 10 };
enum { olSave = 0, olDiscard = 1, olPromptForSave = 2 };

// Event dispatch ids.
enum : DISPID {
  DISPID_ItemSend = 0xF002,
  DISPID_Startup = 0xF006,
  DISPID_Quit = 0xF007,
  DISPID_NewExplorer = 0xF001,
  DISPID_NewInspector = 0xF001,
  DISPID_WindowActivate = 0xF001,
  DISPID_WindowDeactivate = 0xF006,
  DISPID_WindowClose = 0xF008,
  DISPID_SelectionChange = 0xF007,
  DISPID_FolderSwitch = 0xF002,
  DISPID_ItemRead = 0xF001,
  DISPID_ItemOpen = 0xF003,
  DISPID_ItemSendEvent = 0xF005,
  DISPID_ItemClose = 0xF004,
};

}  // namespace Outlook

namespace Word {
inline constexpr IID IID__Application = {0x00020970, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID__Document = {0x0002096B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID DIID_ApplicationEvents4 = {
    0x00020A01, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
enum : DISPID { DISPID_Quit = 2, DISPID_WindowActivate = 10, DISPID_WindowDeactivate = 11 };
// WdDocumentKind: an ordinary document, and a message that Word edits for Outlook.
enum { wdDocumentNotSpecified = 0, wdDocumentEmail = 2 };
}  // namespace Word
