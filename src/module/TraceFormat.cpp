#include "module/TraceFormat.h"

namespace VmTraceNS {
namespace {

// The key and initial vector are assembled at run time so that neither stands in the image as one piece.
constexpr uint8_t kKeyBytes[16] = {0x3A, 0x91, 0x5C, 0xE7, 0x08, 0xB4, 0x6F, 0x22,
                                   0xD1, 0x47, 0x9E, 0x0B, 0x73, 0xC8, 0x25, 0xFA};
constexpr uint32_t kKeyMask = 0xA5C3691E;
constexpr uint32_t kVectorLow = 0x6B1D4F93;
constexpr uint32_t kVectorHigh = 0x2E8C07D5;
constexpr uint32_t kDelta = 0x9E3779B9;
constexpr size_t kBlockSize = 8;

uint32_t LoadWord(const uint8_t* pb) {
  return pb[0] | static_cast<uint32_t>(pb[1]) << 8 | static_cast<uint32_t>(pb[2]) << 16 |
         static_cast<uint32_t>(pb[3]) << 24;
}

void StoreWord(uint32_t dw, uint8_t* pb) {
  for (int i = 0; i < 4; ++i) pb[i] = static_cast<uint8_t>(dw >> (8 * i));
}

// The sign bit is copied in: trace files have always been enciphered this way.
uint32_t ShiftRightArithmetic(uint32_t dw, int iBits) {
  return static_cast<uint32_t>(static_cast<int32_t>(dw) >> iBits);
}

void BuildKey(uint32_t k[4]) {
  for (int i = 0; i < 4; ++i) k[i] = LoadWord(kKeyBytes + 4 * i) ^ kKeyMask;
}

void TransformText(uint8_t* pbText, size_t cbText, bool bEncipher) {
  uint32_t k[4];
  BuildKey(k);
  uint8_t abRegister[kBlockSize];
  StoreWord(kVectorLow, abRegister);
  StoreWord(kVectorHigh, abRegister + 4);
  for (size_t cbDone = 0; cbDone < cbText; cbDone += kBlockSize) {
    uint32_t v[2] = {LoadWord(abRegister), LoadWord(abRegister + 4)};
    EncipherBlock(v, k);
    StoreWord(v[0], abRegister);
    StoreWord(v[1], abRegister + 4);
    const size_t cbSegment = cbText - cbDone < kBlockSize ? cbText - cbDone : kBlockSize;
    uint8_t* pb = pbText + cbDone;
    for (size_t i = 0; i < cbSegment; ++i) {
      const uint8_t bIn = pb[i];
      pb[i] = static_cast<uint8_t>(bIn ^ abRegister[i]);
      // The feedback is always the enciphered byte.
      abRegister[i] = bEncipher ? pb[i] : bIn;
    }
  }
}

}  // namespace

void EncipherBlock(uint32_t v[2], const uint32_t k[4]) {
  uint32_t y = v[0], z = v[1], dwSum = 0;
  for (int i = 0; i < 32; ++i) {
    dwSum += kDelta;
    y += ((z << 4) + k[0]) ^ (z + dwSum) ^ (ShiftRightArithmetic(z, 5) + k[1]);
    z += ((y << 4) + k[2]) ^ (y + dwSum) ^ (ShiftRightArithmetic(y, 5) + k[3]);
  }
  v[0] = y;
  v[1] = z;
}

void EncipherRecordText(uint8_t* pbText, size_t cbText) { TransformText(pbText, cbText, true); }

void DecipherRecordText(uint8_t* pbText, size_t cbText) { TransformText(pbText, cbText, false); }

}  // namespace VmTraceNS
