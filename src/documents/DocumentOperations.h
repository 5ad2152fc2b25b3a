#pragma once
// What the document ribbon does to the active document of Word, Excel or PowerPoint: it turns on
// encryption with this module's provider through the application's object model, or opens
// Office's encryption command when the document uses that provider already, and signs it with
// this module's signature provider through Office's signature set. One object per
// application; the objects keep no state between calls, all of which come on the UI thread.
#include <oaidl.h>
#include <windows.h>

// The module's encryption provider, as documents name it.
inline constexpr wchar_t kEncryptionProviderId[] = L"{0F9A36C7-8501-4224-A39D-054EF270C86F}";
// The module's signature provider, as signatures name it.
inline constexpr wchar_t kSignatureProviderId[] = L"{F4ECAC9C-B199-4598-8CD8-30C4C90537D7}";

// Bits of "DocumentSecurity" and of the flags that ApplySecurity takes.
inline constexpr DWORD kSecuritySignAndEncrypt = 0x1;
inline constexpr DWORD kSecurityEncryptOnly = 0x2;
inline constexpr DWORD kSecurityNoSignatureLine = 0x4;

class CDocumentOperations {
 public:
  // What sets the applications apart.
  struct SApplication {
    const char* szScope;        // "CWordOperations::ApplySecurity()"...
    const char* szWindowQuery;  // "QueryInterface(__uuidof(Word::Window))"...
    const IID& iidWindow;
    const wchar_t* wszDocument;       // the window's member that gives its document
    const wchar_t* wszFormat;         // the document's format member; null: no format check
    bool (*pfnFormatAccepted)(LONG);  // the formats that can be encrypted
    bool bOptionsBeforeCommand;       // Excel sets the options before running the command
    bool bRemovalFailureAborts;       // a failure during a removal request is the user's E_ABORT
    bool bSignatureLines;             // signs with a visible line when the flags ask for one
    bool bSaveBeforeSigning;          // Excel saves a workbook that cannot be signed yet
  };
  // Applies the security that dwFlags asks for (laid out as "DocumentSecurity") to the document
  // of pWindow, the ribbon control's context. After a message to the user the result is S_OK.
  virtual HRESULT ApplySecurity(IDispatch* pWindow, DWORD dwFlags) = 0;
  virtual ~CDocumentOperations() = default;
  // The document options dialog, modal on the active window.
  virtual HRESULT ShowOptions();
  // The menu's choice: neither signing nor encryption asks the provider to remove encryption.
  virtual HRESULT ApplySecurityChoice(IDispatch* pWindow, bool bSign, bool bEncrypt);
  // The ribbon button: "DocumentSecurity" as it stands.
  virtual HRESULT ApplyDefaultSecurity(IDispatch* pWindow);
  virtual bool SignatureLinesUnsupported() const = 0;

 protected:
  static HRESULT ApplyTo(const SApplication& app, IDispatch* pWindow, DWORD dwFlags);
  // Whether one of the set's signatures is the module's signature provider's.
  static bool HasOurSignature(IDispatch* pSignatures);
  // Adds the module's signature, with a signature line or without.
  static HRESULT AddSignature(IDispatch* pSignatures, bool bNoSignatureLine);

 private:
  // Encryption as the flags ask; *pbStop when the operation ends here (after a message).
  static HRESULT Encrypt(const SApplication& app, IDispatch* pDocument, HWND hOwner, bool* pbStop);
  static HRESULT Sign(const SApplication& app, IDispatch* pDocument, HWND hOwner, bool bSignatureLine);
};

class CWordOperations final : public CDocumentOperations {
 public:
  HRESULT ApplySecurity(IDispatch* pWindow, DWORD dwFlags) override;
  bool SignatureLinesUnsupported() const override { return false; }
};

class CExcelOperations final : public CDocumentOperations {
 public:
  HRESULT ApplySecurity(IDispatch* pWindow, DWORD dwFlags) override;
  bool SignatureLinesUnsupported() const override { return false; }
};

class CPowerPointOperations final : public CDocumentOperations {
 public:
  HRESULT ApplySecurity(IDispatch* pWindow, DWORD dwFlags) override;
  bool SignatureLinesUnsupported() const override { return true; }
};
