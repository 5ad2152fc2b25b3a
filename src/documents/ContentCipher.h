#pragma once
// The document streams' cipher: Triple DES CBC from an all-zero IV, run over the stream in pieces
// of 512 bytes, chained across pieces (docs/encrypted-document-file.md).
#include <objidl.h>
#include <windows.h>
#include <wincrypt.h>

inline constexpr ULONG kContentPieceSize = 512;

enum class CCipherDirection { Encrypt, Decrypt };

// A piece shorter than 512 bytes is the last one and is padded (encrypting) or unpadded
// (decrypting); a full piece never is. A failed read or write, or a cipher failure, is returned.
HRESULT TransformContent(HCRYPTKEY hKey, CCipherDirection direction, IStream* pInput, IStream* pOutput);
