// Lines from stdin: the limit at its edge, line ends, and what a line may hold.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/connector-host/core/LineReader.hpp"

namespace connectorhost {
namespace {

std::vector<LineReader::Line> readAll(const std::string& input, std::size_t limit) {
    std::istringstream in(input);
    LineReader reader(in, limit);
    std::vector<LineReader::Line> lines;
    LineReader::Line line;
    while (reader.next(line)) lines.push_back(line);
    return lines;
}

TEST(LineReaderTest, KeepsLinesUpToTheLimitAndCountsTheRest) {
    const auto lines = readAll(
        "12345\n12345\r\n123456\n12345\rx\n\n" + std::string("a\0b", 3) + "\n12345\r\r\n", 5);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].text, "12345");
    EXPECT_FALSE(lines[0].tooLong);
    EXPECT_EQ(lines[1].text, "12345");  // the CR of CR LF is not part of the line
    EXPECT_FALSE(lines[1].tooLong);
    EXPECT_TRUE(lines[2].tooLong);
    EXPECT_EQ(lines[2].text, "");
    EXPECT_EQ(lines[2].size, 6u);
    EXPECT_TRUE(lines[3].tooLong);  // a CR inside the line counts
    EXPECT_EQ(lines[4].text, "");
    EXPECT_EQ(lines[5].text, std::string("a\0b", 3));  // NUL kept
    EXPECT_TRUE(lines[6].tooLong);                     // only one CR may end a line
    EXPECT_EQ(readAll("12", 5).back().text, "12");     // no final newline
    EXPECT_TRUE(readAll("", 5).empty());
}

}  // namespace
}  // namespace connectorhost
