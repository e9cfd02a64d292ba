// DOS date and time: packing, the values without a DOS form, normalising.
#include "zip/common/DosDateTime.h"

#include <gtest/gtest.h>

#include "platform/LocalTime.h"
#include "tests/support/RecordBytes.h"

namespace kvelv {
namespace {

using namespace test::record_bytes;

TEST(DosDateTimeTest, PacksTimeLowDateHighAndLosesTheOddSecond) {
  platform::LocalDateTime t{2024, 5, 17, 13, 45, 31};
  EXPECT_EQ(MakeDosDateTime(t), Dos(2024, 5, 17, 13, 45, 15));
  const platform::LocalDateTime back = SplitDosDateTime(MakeDosDateTime(t));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.second, 30);
}

TEST(DosDateTimeTest, TimesWithoutDosFormGetAllBits) {
  EXPECT_EQ(MakeDosDateTime({1979, 12, 31, 23, 59, 59}), kDosDateTimeInvalid);
  EXPECT_EQ(DosDateTimeFromUnix(0 - 86400 * 400), kDosDateTimeInvalid);  // 1968
}

TEST(DosDateTimeTest, LocalTimeRoundTrip) {
  int64_t unix = 0;
  const uint32_t dos = Dos(2021, 3, 14, 15, 9, 13);
  ASSERT_TRUE(UnixFromDosDateTime(dos, unix));
  EXPECT_EQ(DosDateTimeFromUnix(unix), dos);
}

TEST(DosDateTimeTest, NormalizeClampsEachPart) {
  // 24:60:62 on day 0 of month 0 -> 23:59:58 on day 1 of month 1, same year.
  EXPECT_EQ(NormalizeDosDateTime(Dos(2010, 0, 0, 24, 60, 31)), Dos(2010, 1, 1, 23, 59, 29));
  // All bits set -> 31 December 2099, 23:59:58.
  EXPECT_EQ(NormalizeDosDateTime(0xFFFFFFFFu), Dos(2099, 12, 31, 23, 59, 29));
  // Month 13 -> 12, year 2100 -> 2099.
  EXPECT_EQ(NormalizeDosDateTime(Dos(2100, 13, 5, 1, 2, 3)), Dos(2099, 12, 5, 1, 2, 3));
}

TEST(DosDateTimeTest, NormalizeKeepsValidValuesBitForBit) {
  for (uint32_t v : {Dos(1980, 1, 1, 0, 0, 0), Dos(2099, 12, 31, 23, 59, 29), Dos(2024, 2, 31, 5, 6, 7)})
    EXPECT_EQ(NormalizeDosDateTime(v), v);
}

}  // namespace
}  // namespace kvelv
