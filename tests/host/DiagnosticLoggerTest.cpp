#include <gtest/gtest.h>

#include "../support/LogCapture.hpp"
#include "host/log/DiagnosticLogger.hpp"

namespace {

TEST(DiagnosticLoggerTest, LinesAreFormattedOnlyWhileTheirLevelIsEnabled) {
    foundation::log::basic_diagnostic_logger logger("connector::information");
    int formatted = 0;
    auto write = [&](std::ostream& out) {
        ++formatted;
        out << "line " << formatted;
    };

    logger.log(8, write);  // nothing enabled and no sink yet
    EXPECT_EQ(formatted, 0);
    {
        testsupport::LogCapture capture(100);
        logger.log(8, write);  // below the minimum
        EXPECT_EQ(formatted, 0);
        EXPECT_FALSE(logger.is_enabled(99));
        logger.log(256, write);
        logger.log(100, "plain text");
        EXPECT_EQ(formatted, 1);
        const std::vector<testsupport::LogLine> expected = {
            {256, "connector::information", "line 1"},
            {100, "connector::information", "plain text"}};
        EXPECT_EQ(capture.lines(), expected);
    }
    logger.log(256, write);  // disabled again when the capture ends
    EXPECT_EQ(formatted, 1);
}

}  // namespace
