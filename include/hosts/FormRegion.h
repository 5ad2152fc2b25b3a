#pragma once
// Outlook form regions (Outlook 2007 and later) and the Forms 2.0 controls of a region's layout,
// declared from their published ids. Only _FormRegionStartup is called through its slots; the
// controls are reached by member name.
#include <oaidl.h>

namespace Outlook {

#define VM_OUTLOOK_IID(name, l1) \
  inline constexpr IID name = {l1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}
VM_OUTLOOK_IID(IID__FormRegionStartup, 0x00063059);
VM_OUTLOOK_IID(IID__FormRegion, 0x0006305A);
VM_OUTLOOK_IID(DIID_FormRegionEvents, 0x0006305B);
VM_OUTLOOK_IID(IID__OlkTextBox, 0x000672DA);
VM_OUTLOOK_IID(IID__OlkCommandButton, 0x000672DB);
VM_OUTLOOK_IID(DIID_OlkCommandButtonEvents, 0x000672E0);
VM_OUTLOOK_IID(CLSID_OlkTextBox, 0x0006F068);
VM_OUTLOOK_IID(CLSID_OlkCommandButton, 0x0006F04A);
#undef VM_OUTLOOK_IID

// OlFormRegionMode, OlFormRegionSize, OlFormRegionIcon.
enum OlFormRegionMode { olFormRegionRead = 0, olFormRegionCompose = 1, olFormRegionPreview = 2 };
enum OlFormRegionSize { olFormRegionTypeSeparate = 0, olFormRegionTypeAdjoining = 1 };
enum OlFormRegionIcon { olFormRegionIconDefault = 1 };

// FormRegionEvents.Close and OlkCommandButtonEvents.Click.
enum : DISPID { DISPID_FormRegionClose = 0xF004, DISPID_OlkClick = -600 };

// Dual; dispatch ids 0xFB36, 0xFB3D, 0xFC33 and 0xFC34 in slot order.
struct _FormRegionStartup : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetFormRegionStorage(BSTR FormRegionName, IDispatch* Item, LONG LCID,
                                                         OlFormRegionMode FormRegionMode,
                                                         OlFormRegionSize FormRegionSize, VARIANT* Storage) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeforeFormRegionShow(IDispatch* FormRegion) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFormRegionManifest(BSTR FormRegionName, LONG LCID, VARIANT* Manifest) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFormRegionIcon(BSTR FormRegionName, LONG LCID, OlFormRegionIcon Icon,
                                                      VARIANT* Result) = 0;
};

}  // namespace Outlook

namespace MSForms {

inline constexpr IID IID__UserForm = {0x04598FC8, 0x866C, 0x11CF, {0xAB, 0x7C, 0x00, 0xAA, 0x00, 0xC0, 0x8F, 0xCF}};
inline constexpr IID IID_Controls = {0x04598FC7, 0x866C, 0x11CF, {0xAB, 0x7C, 0x00, 0xAA, 0x00, 0xC0, 0x8F, 0xCF}};
inline constexpr IID IID_IControl = {0x04598FC6, 0x866C, 0x11CF, {0xAB, 0x7C, 0x00, 0xAA, 0x00, 0xC0, 0x8F, 0xCF}};
inline constexpr IID IID_IImage = {0x4C599243, 0x6926, 0x101B, {0x99, 0x92, 0x00, 0x00, 0x0B, 0x65, 0xC6, 0xF9}};
inline constexpr CLSID CLSID_Image = {0x4C599241, 0x6926, 0x101B, {0x99, 0x92, 0x00, 0x00, 0x0B, 0x65, 0xC6, 0xF9}};
inline constexpr CLSID CLSID_UserForm = {0xC62A69F0, 0x16DC, 0x11CE, {0x9E, 0x98, 0x00, 0xAA, 0x00, 0x57, 0x4A, 0x4F}};

}  // namespace MSForms
