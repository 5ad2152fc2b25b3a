#include "documents/ContentCipher.h"

#include "documents/CryptHandles.h"
#include "module/Trace.h"

namespace {

// Streams may answer a read with fewer bytes than asked before their end; only the end may
// make a short piece, since a short piece is the final one.
HRESULT ReadPiece(IStream* pStream, BYTE* pb, ULONG* pcbRead) {
  *pcbRead = 0;
  while (*pcbRead < kContentPieceSize) {
    ULONG cbRead = 0;
    const HRESULT hr = pStream->Read(pb + *pcbRead, kContentPieceSize - *pcbRead, &cbRead);
    if (FAILED(hr)) return hr;
    if (cbRead == 0) break;
    *pcbRead += cbRead;
  }
  return S_OK;
}

// Transforms the input piece by piece through the buffer into the output.
HRESULT TransformPieces(CTraceScope& scope, HCRYPTKEY hKey, CCipherDirection direction, IStream* pInput,
                        IStream* pOutput, BYTE (&buffer)[kContentPieceSize]) {
  for (;;) {
    ULONG cbRead = 0;
    HRESULT hr = ReadPiece(pInput, buffer, &cbRead);
    if (FAILED(hr)) {
      scope.Error("pInputStream->Read()", hr);
      return hr;
    }
    if (cbRead == 0) return S_OK;
    const BOOL bFinal = cbRead < kContentPieceSize;
    DWORD cbData = cbRead;
    if (direction == CCipherDirection::Encrypt) {
      if (!CryptEncrypt(hKey, 0, bFinal, 0, buffer, &cbData, sizeof(buffer))) {
        hr = LastErrorResult();
        scope.Error("hKey.Encrypt()", hr);
        return hr;
      }
    } else {
      scope.Message("Read data size = %u", cbRead);
      if (!CryptDecrypt(hKey, 0, bFinal, 0, buffer, &cbData)) {
        hr = LastErrorResult();
        scope.Error("hKey.Decrypt()", hr);
        return hr;
      }
    }
    hr = pOutput->Write(buffer, cbData, nullptr);
    if (FAILED(hr)) {
      scope.Error("cpOutputStream->Write()", hr);
      return hr;
    }
    if (bFinal) return S_OK;
  }
}

}  // namespace

HRESULT TransformContent(HCRYPTKEY hKey, CCipherDirection direction, IStream* pInput, IStream* pOutput) {
  CTraceScope scope("TransformContent()", 1);
  BYTE buffer[kContentPieceSize];
  const HRESULT hr = TransformPieces(scope, hKey, direction, pInput, pOutput, buffer);
  // The buffer last held plain text: read for encryption, or decrypted (also when a step failed).
  SecureZeroMemory(buffer, sizeof buffer);
  return hr;
}
