#pragma once
// Office's custom encryption provider interface, declared from its published ids and slot order.
#include <oaidl.h>

namespace Office {

inline constexpr IID IID_EncryptionProvider = {
    0x000CD809, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The Office type library, version 2.4, which describes EncryptionProvider for IDispatch.
inline constexpr GUID LIBID_Office = {0x2DF8D04C, 0x5BFA, 0x101B, {0xBD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0xDE, 0x52}};

enum EncryptionProviderDetail {
  encprovdetUrl = 0,
  encprovdetAlgorithm = 1,
  encprovdetBlockCipher = 2,
  encprovdetCipherBlockSize = 3,
  encprovdetCipherMode = 4,
};
enum EncryptionCipherMode { cipherModeECB = 0, cipherModeCBC = 1 };

// Dual; dispatch ids 0x60020000 to 0x60020008 in slot order.
struct EncryptionProvider : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetProviderDetail(EncryptionProviderDetail encprovdet, VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE NewSession(IUnknown* ParentWindow, int* SessionHandle) = 0;
  virtual HRESULT STDMETHODCALLTYPE Authenticate(IUnknown* ParentWindow, IUnknown* EncryptionData,
                                                 unsigned int* PermissionsMask, int* SessionHandle) = 0;
  virtual HRESULT STDMETHODCALLTYPE CloneSession(int SessionHandle, int* NewSessionHandle) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndSession(int SessionHandle) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(int SessionHandle, IUnknown* EncryptionData, int* BytesWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE EncryptStream(int SessionHandle, BSTR StreamName, IUnknown* UnencryptedStream,
                                                  IUnknown* EncryptedStream) = 0;
  virtual HRESULT STDMETHODCALLTYPE DecryptStream(int SessionHandle, BSTR StreamName, IUnknown* EncryptedStream,
                                                  IUnknown* UnencryptedStream) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowSettings(int SessionHandle, IUnknown* ParentWindow, VARIANT_BOOL ReadOnly,
                                                 VARIANT_BOOL* Remove) = 0;
};

}  // namespace Office
