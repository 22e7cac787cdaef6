#include <string>

#include <gtest/gtest.h>

#include "collect/paths.h"

namespace pictarre {
namespace {

using namespace std::string_literals;

struct TextCase {
    std::string input;
    std::string expected;
};

// Failing rows print as their escaped texts, not as bytes of the structure.
void PrintTo(const TextCase& c, std::ostream* out)
{
    *out << ::testing::PrintToString(c.input) << " -> " << ::testing::PrintToString(c.expected);
}

class CutAtNullCases : public ::testing::TestWithParam<TextCase> {};

TEST_P(CutAtNullCases, KeepsTheTextBeforeTheFirstNul)
{
    EXPECT_EQ(CutAtNull(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Buffers, CutAtNullCases,
                         ::testing::Values(TextCase{""s, ""s}, TextCase{"\0abc"s, ""s},
                                           TextCase{"abc"s, "abc"s},
                                           TextCase{"abc\0"s + std::string(256, ' '), "abc"s},
                                           TextCase{"a\0b\0c"s, "a"s},
                                           TextCase{"图片\0 "s, "图片"s},
                                           TextCase{std::string(260, ' '), std::string(260, ' ')}));

struct ExtensionCase {
    const char* path;
    bool picture;
};

void PrintTo(const ExtensionCase& c, std::ostream* out)
{
    *out << ::testing::PrintToString(std::string(c.path)) << (c.picture ? " is" : " is not") << " a picture";
}

class PictureExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(PictureExtension, FollowsTheCommaWrappedListRule)
{
    EXPECT_EQ(isPictureExtension(GetParam().path), GetParam().picture) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PictureExtension,
    ::testing::Values(ExtensionCase{"/p/PHOTO.JPG", true}, ExtensionCase{"/p/photo.jpeg", false},
                      ExtensionCase{"/p/a.Gif", true}, ExtensionCase{"/p/a.bMp", true},
                      ExtensionCase{"/p/a.png", false}, ExtensionCase{"/p/.x.jpg", true},
                      ExtensionCase{"/p/a.jpg,gif", true}, ExtensionCase{"/p/a.bmp,jpg,gif", true},
                      ExtensionCase{"/p/a.jpg,bmp", false}, ExtensionCase{"/p/a.gif,", false},
                      ExtensionCase{"/p/a.,jpg", false}, ExtensionCase{"/p/a.", false},
                      ExtensionCase{"/p/bmp", false}, ExtensionCase{"/a.b/c", false},
                      ExtensionCase{"/a.b/jpg", false}, ExtensionCase{"/p/a.jpg ", false},
                      ExtensionCase{"/p/a.jp", false}, ExtensionCase{"/p/a.g", false},
                      ExtensionCase{"/p/a.,", false}, ExtensionCase{"jpg", false},
                      ExtensionCase{"", false}, ExtensionCase{"/p/a.JPG\xC3\xA9", false}));

struct JoinCase {
    std::string folder;
    std::string name;
    std::string joined;
};

void PrintTo(const JoinCase& c, std::ostream* out)
{
    *out << ::testing::PrintToString(c.folder) << " + " << ::testing::PrintToString(c.name) << " -> "
         << ::testing::PrintToString(c.joined);
}

class JoinPath : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPath, PutsExactlyOneSeparatorBetween)
{
    EXPECT_EQ(joinPath(GetParam().folder, GetParam().name), GetParam().joined);
}

INSTANTIATE_TEST_SUITE_P(Folders, JoinPath,
                         ::testing::Values(JoinCase{"/", "x.jpg", "/x.jpg"},
                                           JoinCase{"/", "/x.jpg", "/x.jpg"},
                                           JoinCase{"/home/u", "a b.jpg", "/home/u/a b.jpg"},
                                           JoinCase{"/home/u/", "图片.gif", "/home/u/图片.gif"},
                                           JoinCase{"/p", "a&b#1.bmp", "/p/a&b#1.bmp"},
                                           JoinCase{"rel", "x", "rel/x"}));

class AppendSeparator : public ::testing::TestWithParam<TextCase> {};

TEST_P(AppendSeparator, AddsOneUnlessPresent)
{
    std::string path = GetParam().input;
    appendSeparator(path);
    EXPECT_EQ(path, GetParam().expected);
    EXPECT_TRUE(endsWithSeparator(path));
}

INSTANTIATE_TEST_SUITE_P(Folders, AppendSeparator,
                         ::testing::Values(TextCase{"/", "/"}, TextCase{"/a", "/a/"},
                                           TextCase{"/a/", "/a/"}, TextCase{"", "/"},
                                           TextCase{"/中文 #&", "/中文 #&/"}));

class FolderOfFile : public ::testing::TestWithParam<TextCase> {};

TEST_P(FolderOfFile, KeepsEverythingUpToTheLastSeparator)
{
    EXPECT_EQ(folderOfFile(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, FolderOfFile,
                         ::testing::Values(TextCase{"/x.jpg", "/"}, TextCase{"/a/b/c.gif", "/a/b/"},
                                           TextCase{"c.gif", ""}, TextCase{"/a/b/", "/a/b/"}));

TEST(PathText, EndsWithSeparatorAndLineBreaks)
{
    EXPECT_FALSE(endsWithSeparator(""));
    EXPECT_FALSE(endsWithSeparator("/a"));
    EXPECT_TRUE(endsWithSeparator("/"));
    EXPECT_FALSE(hasLineBreak("a b.jpg"));
    EXPECT_TRUE(hasLineBreak("a\nb.jpg"));
    EXPECT_TRUE(hasLineBreak("a\rb.jpg"));
    EXPECT_TRUE(hasLineBreak("ab.jpg\n"));
}

}  // namespace
}  // namespace pictarre
