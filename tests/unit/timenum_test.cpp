// Julian timestamps, local civil time and decimal text.
#include "platform/timenum.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

namespace nsk {
namespace {

constexpr INT64 US = 1000000;
constexpr INT64 JULIAN_UNIX_EPOCH = 210866760000000000;  // 1970-01-01 00:00:00 GMT

INT64 julian(INT64 unix_seconds, INT64 micros = 0) {
  return JULIAN_UNIX_EPOCH + unix_seconds * US + micros;
}

// Sets TZ for one test and puts the old value back.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    if (old != nullptr) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(Time, JulianTimestampFollowsTheRealClock) {
  const INT64 before = julian(std::time(nullptr));
  const INT64 now = JULIANTIMESTAMP(0);
  const INT64 after = julian(std::time(nullptr) + 1);
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

struct DateCase {
  INT64 timestamp;
  INT32 day_number;
  INT fields[8];
};

TEST(Time, InterpretGivesGregorianFields) {
  static const DateCase cases[] = {
      {julian(0), 2440588, {1970, 1, 1, 0, 0, 0, 0, 0}},
      {julian(1228808102, 123456), 2454810, {2008, 12, 9, 7, 35, 2, 123, 456}},
      {julian(951825600), 2451604, {2000, 2, 29, 12, 0, 0, 0, 0}},
      {julian(-2203891200), 2415080, {1900, 3, 1, 0, 0, 0, 0, 0}},  // 1900 had no 29 February
      {julian(1709251199, 999999), 2460370, {2024, 2, 29, 23, 59, 59, 999, 999}},
      {julian(-1, 999999), 2440587, {1969, 12, 31, 23, 59, 59, 999, 999}},
      {(INT64{1721426} * 86400 - 43200) * US, 1721426, {1, 1, 1, 0, 0, 0, 0, 0}},
  };
  for (const DateCase& c : cases) {
    SCOPED_TRACE(c.timestamp);
    INT fields[8] = {};
    EXPECT_EQ(INTERPRETTIMESTAMP(c.timestamp, fields), c.day_number);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(fields[i], c.fields[i]) << "field " << i;
  }
}

TEST(Time, InterpretRefusesTimestampsOutOfRange) {
  INT fields[8] = {-7, -7, -7, -7, -7, -7, -7, -7};
  EXPECT_EQ(INTERPRETTIMESTAMP(-1, fields), -1);
  EXPECT_EQ(INTERPRETTIMESTAMP(0, fields), -1);  // 4713 B.C. is before year 1
  EXPECT_EQ(fields[0], -7);
  const INT64 year_10000 = (INT64{5373485} * 86400 - 43200) * US;
  EXPECT_EQ(INTERPRETTIMESTAMP(year_10000 - 1, fields), 5373484);
  EXPECT_EQ(fields[0], 9999);
  EXPECT_EQ(INTERPRETTIMESTAMP(year_10000, fields), -1);
}

struct ZoneCase {
  const char* zone;
  INT64 gmt;
  INT direction;
  INT64 expected;
};

TEST(Time, ConvertFollowsTheTimeZone) {
  const INT64 winter = julian(1228808102);  // 2008-12-09 07:35:02 GMT
  const INT64 summer = julian(1214913600);  // 2008-07-01 12:00:00 GMT
  const INT64 hour = 3600 * US;
  static const ZoneCase cases[] = {
      {"UTC0", winter, 0, winter},
      {"EST5EDT,M3.2.0,M11.1.0", winter, 0, winter - 5 * hour},
      {"EST5EDT,M3.2.0,M11.1.0", summer, 0, summer - 4 * hour},
      {"EST5EDT,M3.2.0,M11.1.0", summer, 1, summer - 5 * hour},  // standard time all year
      {"CET-1CEST,M3.5.0,M10.5.0/3", winter, 0, winter + hour},
      {"CET-1CEST,M3.5.0,M10.5.0/3", summer, 0, summer + 2 * hour},
  };
  for (const ZoneCase& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " direction " + std::to_string(c.direction));
    ZoneGuard zone(c.zone);
    INT error = -9;
    const INT64 local = CONVERTTIMESTAMP(c.gmt, c.direction, {}, &error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(local, c.expected);
    EXPECT_EQ(CONVERTTIMESTAMP(local, c.direction + 2, {}, &error), c.gmt);
    EXPECT_EQ(error, 0);
  }
}

TEST(Time, ConvertByDefaultGivesTheLocalCivilTimeOfTheStore) {
  ZoneGuard zone("EST5EDT,M3.2.0,M11.1.0");
  INT fields[8];
  INTERPRETTIMESTAMP(CONVERTTIMESTAMP(julian(1228808102)), fields);
  EXPECT_EQ(fields[0], 2008);
  EXPECT_EQ(fields[2], 9);
  EXPECT_EQ(fields[3], 2);  // 07:35 GMT is 02:35 in New York in December
  EXPECT_EQ(fields[4], 35);
}

TEST(Time, ConvertReportsErrors) {
  INT error = 0;
  EXPECT_EQ(CONVERTTIMESTAMP(-5, 0, {}, &error), -5);
  EXPECT_EQ(error, -1);
  EXPECT_EQ(CONVERTTIMESTAMP(julian(0), 7, {}, &error), julian(0));
  EXPECT_EQ(error, -2);
}

struct OutCase {
  INT32 number;
  INT base;
  std::optional<INT> width;
  INT maxlen;
  const char* text;  // "" : nothing written, result 0
};

TEST(Numbers, DnumoutWritesDigits) {
  static const OutCase cases[] = {
      {0, 10, {}, 10, "0"},
      {123, 10, {}, 10, "123"},
      {-45, 10, {}, 10, "-45"},
      {-2147483647 - 1, 10, {}, 11, "-2147483648"},
      {2147483647, 10, 0, 10, "2147483647"},
      {7, 2, {}, 10, "111"},
      {64, 8, {}, 10, "100"},
      {6, 10, 2, 10, "06"},
      {21, 10, 2, 2, "21"},
      {123, 10, 2, 10, "23"},
      {-5, 10, 3, 10, "-005"},
      {1234, 10, {}, 4, "1234"},
      {12345, 10, {}, 4, ""},
      {6, 10, 2, 1, ""},
      {5, 11, {}, 10, ""},
      {5, 1, {}, 10, ""},
      {5, 10, -1, 10, ""},
  };
  for (const OutCase& c : cases) {
    SCOPED_TRACE(c.number);
    char buffer[16];
    std::memset(buffer, '.', sizeof buffer);
    const INT n = DNUMOUT(buffer, c.maxlen, c.number, c.base, c.width);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), c.text);
    EXPECT_EQ(buffer[n], '.');  // nothing past the digits
  }
}

struct InCase {
  const char* text;
  INT length;
  INT base;
  INT status;
  INT32 value;  // when status is 0
  INT used;
};

TEST(Numbers, DnuminReadsASignedNumber) {
  static const InCase cases[] = {
      {"50", 2, 10, 0, 50, 2},
      {"300X", 4, 10, 0, 300, 3},
      {"-5", 2, 10, 0, -5, 2},
      {"+7", 2, 10, 0, 7, 2},
      {"1234", 2, 10, 0, 12, 2},
      {"2147483647", 10, 10, 0, 2147483647, 10},
      {"-2147483648", 11, 10, 0, -2147483647 - 1, 11},
      {"101", 3, 2, 0, 5, 3},
      {"12", 2, 2, 0, 1, 1},
      {"2147483648", 10, 10, 1, 0, 10},
      {"-2147483649", 11, 10, 1, 0, 11},
      {"99999999999999999999999", 23, 10, 1, 0, 23},
      {"APE", 3, 10, -1, 0, 0},
      {"-", 1, 10, -1, 0, 0},
      {" 5", 2, 10, -1, 0, 0},
      {"", 0, 10, -1, 0, 0},
      {"5", 1, 11, -1, 0, 0},
  };
  for (const InCase& c : cases) {
    SCOPED_TRACE(c.text);
    INT32 value = -99;
    INT status = -99;
    EXPECT_EQ(DNUMIN(c.text, c.length, &value, c.base, &status), c.used);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(value, c.status == 0 ? c.value : -99);
  }
}

}  // namespace
}  // namespace nsk
