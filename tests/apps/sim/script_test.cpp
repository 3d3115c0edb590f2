// The simulator's command lines.
#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/script.h"

namespace qsim {
namespace {

TEST(SimScript, CommandsAndTheirWords) {
    EXPECT_FALSE(parseCommand(""));
    EXPECT_FALSE(parseCommand("   # only a comment"));
    const auto ring = parseCommand("ring 17 4711  # a call");
    ASSERT_TRUE(ring);
    EXPECT_EQ(ring->verb, "ring");
    EXPECT_EQ(ring->words, (std::vector<std::string>{"17", "4711"}));
    EXPECT_EQ(ring->integer(0), 17);
    const auto wait = parseCommand("wait polls 3");
    ASSERT_TRUE(wait);
    EXPECT_EQ(wait->verb, "wait polls");
    EXPECT_EQ(wait->integer(0), 3);
    EXPECT_EQ(parseCommand("wait adjunct")->verb, "wait adjunct");
}

TEST(SimScript, DisplayKeepsTheBlanksOfItsText) {
    const auto c = parseCommand("display 17  Good  morning 17 \r");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->integer(0), 17);
    EXPECT_EQ(c->rest, "Good  morning 17");
}

TEST(SimScript, WrongCommandsAreRefused) {
    EXPECT_THROW(parseCommand("dance 17"), std::invalid_argument);
    EXPECT_THROW(parseCommand("ring 17"), std::invalid_argument);
    EXPECT_THROW(parseCommand("ring 17 4711 4712"), std::invalid_argument);
    EXPECT_THROW(parseCommand("ring seventeen 4711"), std::invalid_argument);
    EXPECT_THROW(parseCommand("wait forever"), std::invalid_argument);
    EXPECT_THROW(parseCommand("display 17"), std::invalid_argument);
    EXPECT_THROW(parseCommand("adjunct sleep"), std::invalid_argument) << "one of deaf, hear, vanish";
    EXPECT_EQ(parseCommand("faults off")->words.at(0), "off");
}

}  // namespace
}  // namespace qsim
