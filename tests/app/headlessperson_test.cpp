// SPDX-License-Identifier: MIT
#include "app/headlessperson.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace quillbox;

TEST(HeadlessPerson, WritesOneLinePerBoxAndCountsThem)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    {
        HeadlessPerson person(out);
        person.message(QStringLiteral("Error saving email."));
        person.message(QStringLiteral("Usage: \r\nQuillbox a\r\nQuillbox b"));
        EXPECT_EQ(person.warning(QStringLiteral("T"), QStringLiteral("5, bad")), WarningAnswer::Ignore);
        EXPECT_TRUE(person.inputBox(QStringLiteral("Enter debug level and options")).isEmpty());
        EXPECT_TRUE(person.password(QStringLiteral("Password for me@example.org:")).isEmpty());
        EXPECT_EQ(person.messagesShown(), 3);
    }
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, size),
        "Quillbox: Error saving email.\nQuillbox: Usage:  | Quillbox a | Quillbox b\nQuillbox: T: 5, bad\n");
    std::free(buffer);
}
