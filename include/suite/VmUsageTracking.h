#pragma once
// The suite's usage-tracking component, an in-process COM server shared by the suite's programs.
// The module asks it whether it is installed and whether the user agreed to usage reports, and
// hands it one report text when an add-in shuts down.
#include <oaidl.h>

inline constexpr CLSID CLSID_VmUsageTracking = {
    0xFC38B03D, 0x0921, 0x4C97, {0xB7, 0x36, 0x7C, 0xFE, 0x5D, 0xDA, 0x1E, 0x5C}};
inline constexpr IID IID_IVmUsageTracking = {
    0x3869258D, 0x4B10, 0x483E, {0x8F, 0x2F, 0x8E, 0x13, 0x0A, 0x58, 0xB5, 0xD5}};

struct IVmUsageTracking : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsInstalled(VARIANT_BOOL* pbInstalled) = 0;
  // 1 means the user agreed; any other value that they did not, or were never asked.
  virtual HRESULT STDMETHODCALLTYPE GetUserConsent(LONG* plConsent) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendReport(BSTR bsReport) = 0;
};
