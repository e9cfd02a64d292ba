// The last-chance report: "<class>: <message>" + CRLF on the error stream and exit code 1.
#include "app/LastChance.h"

#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <stdexcept>

#include "app/BatchMode.h"
#include "jobs/SettingsFile.h"
#include "platform/Error.h"

namespace kvelv {
namespace {

TEST(LastChance, PassesTheResultThroughWhenNothingIsThrown) {
  std::ostringstream err;
  EXPECT_EQ(RunWithLastChance([] { return 3; }, err), 3);
  EXPECT_EQ(err.str(), "");
}

TEST(LastChance, ReportsTheProgramsOwnClassNames) {
  std::ostringstream err;
  EXPECT_EQ(RunWithLastChance([]() -> int { throw EIniFileException("Unable to write to /x.ini"); }, err), 1);
  EXPECT_EQ(err.str(), "EIniFileException: Unable to write to /x.ini\r\n");

  err.str("");
  EXPECT_EQ(RunWithLastChance([]() -> int { throw Error("plain"); }, err), 1);
  EXPECT_EQ(err.str(), "Exception: plain\r\n");
}

TEST(LastChance, NamesOtherExceptionsByTheirType) {
  std::ostringstream err;
  EXPECT_EQ(RunWithLastChance([]() -> int { throw std::out_of_range("index 1"); }, err), 1);
  EXPECT_EQ(err.str(), "std::out_of_range: index 1\r\n");

  err.str("");
  EXPECT_EQ(RunWithLastChance([]() -> int { throw 42; }, err), 1);
  EXPECT_EQ(err.str(), "Exception: Unknown error\r\n");
}

TEST(LastChance, DescribesWithoutTheLineBreak) {
  EXPECT_EQ(DescribeException(std::make_exception_ptr(EConvertError("Missing value for option -file"))),
            "EConvertError: Missing value for option -file");
  EXPECT_EQ(DescribeException(nullptr), "Exception: Unknown error");
}

}  // namespace
}  // namespace kvelv
