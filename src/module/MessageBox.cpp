#include "module/MessageBox.h"

#include "module/ActCtx.h"
#include "module/ResourceStrings.h"

int VmMessageBox(HWND hOwner, UINT nTextID, UINT nCaptionID, UINT uType) {
  return VmMessageBox(hOwner, LoadResourceString(nTextID), nCaptionID, uType);
}

int VmMessageBox(HWND hOwner, const std::wstring& wsText, UINT nCaptionID, UINT uType) {
  const std::wstring wsCaption = LoadResourceString(nCaptionID);
  CVmActCtx actCtx;
  return MessageBoxW(hOwner, wsText.c_str(), wsCaption.c_str(), uType);
}
