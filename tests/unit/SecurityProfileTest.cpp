// The security profile byte for byte, as docs/security-profile.md lays it out.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "mail/SecurityProfile.h"

namespace {

constexpr BYTE kHash[20] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0xFF};

std::vector<BYTE> Concat(std::initializer_list<std::vector<BYTE>> parts) {
  std::vector<BYTE> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<BYTE> HashRecord(BYTE bTag) {
  std::vector<BYTE> record(24);
  record[0] = bTag;
  record[2] = 24;
  std::copy(std::begin(kHash), std::end(kHash), record.begin() + 4);
  return record;
}

// The records up to the capabilities for the name "Ab".
std::vector<BYTE> FixedPart() {
  return Concat({{0x01, 0x00, 8, 0x00, 1, 0, 0, 0},
                 {0x06, 0x00, 8, 0x00, 1, 0, 0, 0},
                 {0x20, 0x00, 8, 0x00, 7, 0, 0, 0},
                 {0x0B, 0x00, 7, 0x00, 'A', 'b', 0},
                 {0x51, 0x00, 10, 0x00, 'A', 0, 'b', 0, 0, 0},
                 HashRecord(0x22),
                 HashRecord(0x09),
                 {0x02, 0x00, 7, 0x00, 0x30, 0x01, 0x05}});
}

TEST(SecurityProfileTest, RecordsComeInTheirOrderWithLengthsCountingTheHeader) {
  EXPECT_EQ(FixedPart(), BuildSecurityProfile(L"Ab", kHash, {0x30, 0x01, 0x05}, std::nullopt));
}

// The label: SET { OID 1.3.6.1.4.1.51877.1.2, INTEGER classification }, the integer in its
// shortest form with a leading zero when its high bit is set.
TEST(SecurityProfileTest, ASealedMessageGetsTheLabelOfItsClassificationLast) {
  const std::vector<BYTE> policy = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x83, 0x95, 0x25, 0x01, 0x02};
  const std::vector<BYTE> label3 = Concat({{0x31, 0x0F}, policy, {0x02, 0x01, 0x03}});
  EXPECT_EQ(label3, EncodeSecurityLabel(3));
  EXPECT_EQ(Concat({{0x31, 0x10}, policy, {0x02, 0x02, 0x00, 0xC8}}), EncodeSecurityLabel(200));
  EXPECT_EQ(Concat({{0x31, 0x10}, policy, {0x02, 0x02, 0x01, 0x00}}), EncodeSecurityLabel(256));
  EXPECT_EQ(Concat({{0x31, 0x0F}, policy, {0x02, 0x01, 0x00}}), EncodeSecurityLabel(0));

  const std::vector<BYTE> labelRecord = Concat({{0x50, 0x00, 21, 0x00}, label3});
  EXPECT_EQ(Concat({FixedPart(), labelRecord}), BuildSecurityProfile(L"Ab", kHash, {0x30, 0x01, 0x05}, 3));
}

}  // namespace
