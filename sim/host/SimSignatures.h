#pragma once
// Office's side of document signatures in the simulated Word, Excel and PowerPoint: the signature
// set with its signatures, their setup and information objects, and the order in which Office
// drives a custom signature provider to add, sign, verify and show a signature (ECMA-376 Part 2,
// 13: XML signatures in the package, a manifest of the parts' digests).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "SimDispatch.h"
#include "hosts/SignatureProvider.h"

namespace Sim {

// What a document's signatures need from the document and its application.
struct SSignatureHost {
  std::function<HRESULT(const std::wstring& wsClassId, Office::SignatureProvider** ppProvider)> findProvider;
  std::function<IUnknown*()> window;  // the ParentWindow handed to the provider
  // The package as it would be saved now, without signatures: what a new signature covers.
  std::function<HRESULT(std::vector<BYTE>* pPackage)> package;
  std::function<void(const std::wstring&)> log;
  std::wstring wsAppVersion;
  bool bLinesSupported = true;    // PowerPoint has no signature lines
  std::function<bool()> unsaved;  // Excel signs only a workbook that has been saved
};

class CSignature;

// The document's Signatures (SignatureSet).
class CSignatureSet final : public CCollection {
 public:
  explicit CSignatureSet(SSignatureHost host);
  // The XML of every signed signature, in order, as the package stores them.
  std::vector<std::string> SignedXml() const;
  // The signatures of an opened package, each verified by its provider against the package's parts.
  HRESULT Load(const std::vector<BYTE>& package, std::wstring* pwsWhy);
  CSignature* Signature(size_t i) const;
  // Writes the picture that signature line i (from 0) shows now, as a bitmap file.
  HRESULT SaveLineImage(size_t i, const std::wstring& wsPath) const;
  const SSignatureHost& Host() const { return m_host; }

 private:
  HRESULT Add(const std::wstring& wsProvider, bool bLine, CSignature** ppSignature);
  SSignatureHost m_host;
};

}  // namespace Sim
