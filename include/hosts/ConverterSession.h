#pragma once
// Outlook's MAPI-to-MIME converter, declared from its published ids and slot order.
#include <windows.h>
#include <mapix.h>

namespace Olk {

inline constexpr CLSID CLSID_IConverterSession = {
    0x4E3A7680, 0xB77A, 0x11D0, {0x9D, 0xA5, 0x00, 0xC0, 0x4F, 0xD6, 0x56, 0x85}};
inline constexpr IID IID_IConverterSession = {
    0x4B401570, 0xB77B, 0x11D0, {0x9D, 0xA5, 0x00, 0xC0, 0x4F, 0xD6, 0x56, 0x85}};

// CCSF_SMTP: the message is converted as an Internet message.
constexpr ULONG CCSF_SMTP = 0x0002;

struct IConverterSession : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetAdrBook(LPADRBOOK pab) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEncoding(int et) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder1() = 0;
  virtual HRESULT STDMETHODCALLTYPE MIMEToMAPI(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR pszSrcSrv, ULONG ulFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder2() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder3() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder4() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTextWrapping(BOOL fWrapText, ULONG ulWrapWidth) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSaveFormat(int mstSaveFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder5() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCharset(BOOL fApply, void* hcharset, int csetapplytype) = 0;
};

}  // namespace Olk
