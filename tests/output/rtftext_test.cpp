// SPDX-License-Identifier: MIT
// Stored RTF bodies read as text or HTML, hostile ones included, and the header block put in front of their text.
#include "output/rtftext.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace quillbox;

namespace {

struct Reading {
    const char* why;
    const char* rtf;
    const char* text;
    bool isHtml = false;
};

void expectReadings(const std::vector<Reading>& cases)
{
    for (const Reading& c : cases) {
        SCOPED_TRACE(c.why);
        const formats::RtfBody body = formats::rtfBody(c.rtf);
        EXPECT_EQ(body.text, QString::fromUtf8(c.text));
        EXPECT_EQ(body.isHtml, c.isHtml);
    }
}

TEST(RtfBody, TextAndEncapsulatedHtml)
{
    expectReadings({
        { "paragraphs, lines and tabs; the header groups hold no text",
            R"({\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}{\colortbl;\red0\green0\blue0;}{\stylesheet{\s0 Normal;}})"
            R"({\info{\title T}{\author A}}\pard A\par B\line C\tab D\cell E\row})",
            "A\nB\nC\tD\tE\n" },
        { "\\'hh in the document's code page; escaped braces and backslash",
            R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8 \{x\} \\})", "При {x} \\" },
        { "\\uN skips its \\ucN fallback; negative numbers; a character beyond U+FFFF as two halves",
            R"({\rtf1\uc1 \u8364\'80 and\uc2 \u-10179??\u-8704??!})", "€ and😀!" },
        { "a font's \\fcharset or \\cpg comes before the document's code page; bytes of one character stay whole",
            R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Arial;}{\f1\fcharset128 Gothic;}{\f2\cpg949 Gulim;}})"
            R"(\f1\'82\'a0\'87\'40\f2\'8c\'63\f0\'e9})",
            "あ①똠é" },
        { "pictures, field instructions, \\* destinations and \\bin data hold no text",
            R"({\rtf1 a{\pict\bin4 }}{}z}{\*\generator x;}{\field{\*\fldinst HYPERLINK "u"}{\fldrslt link}})"
            R"( b\emdash\~c\ldblquote\rdblquote})",
            "alink b—\u00A0c“”" },
        { "encapsulated HTML: the tags, and the text outside \\htmlrtf in the font's code page",
            R"({\rtf1\ansi\ansicpg1252\fromhtml1 {\fonttbl{\f0 Arial;}{\f1\fcharset204 X;}}{\*\htmltag19 <html>})"
            R"({\*\htmltag64}\htmlrtf {\b\htmlrtf0 Gr\'fc\'dfe{\*\htmltag4 \par <br>}\htmlrtf\par}\htmlrtf0 )"
            R"(\f1\'cf \u8364?{\*\htmltag148 &lt;\'e4}{\*\htmltag27 </html>}})",
            "<html>Grüße\r\n<br>П €&lt;ä</html>", true },
        { "\\fromhtml1 without a tag is read as text, \\htmlrtf parts too",
            R"({\rtf1\fromhtml1 \htmlrtf Plain\htmlrtf0  text\par})", "Plain text\n" },
        { "\\fromtext leaves out its \\htmlrtf parts", R"({\rtf1\fromtext \htmlrtf{\f0\htmlrtf0 Line\par}\htmlrtf x})",
            "Line\n" },
    });
}

TEST(RtfBody, BadInputGivesTheReadableText)
{
    expectReadings({
        { "cut off in a word", R"({\rtf1 Hello wor)", "Hello wor" },
        { "cut off in an escape", R"({\rtf1 Hello\'e)", "Hello" },
        { "\\' at the very end", R"({\rtf1 a\')", "a" },
        { "\\' without hex digits", R"({\rtf1 a\'zzb})", "azzb" },
        { "a backslash at the very end", "{\\rtf1 a\\", "a" },
        { "a } too many", R"({\rtf1 a}}b})", "ab" },
        { "groups that never close", R"({\rtf1 a{\b b{\i c)", "abc" },
        { "\\uN huge, negative beyond 16 bits, missing", R"({\rtf1 \u99999999999999?a\u-99999?b\u?c})",
            "\uFFFDa\uFFFDb\uFFFDc" },
        { "halves of a surrogate pair alone", R"({\rtf1\uc0 \u55357 a\u56832 b})", "\uFFFDa\uFFFDb" },
        { "\\bin longer than the rest", R"({\rtf1 a\bin999999999 b})", "a" },
        { "no RTF at all", "plain words", "plain words" },
        { "a \\fromhtml1 document without tags and with nothing else", R"({\rtf1\fromhtml1})", "" },
    });
    // Nesting without end neither exhausts the stack nor loses the text.
    const QByteArray deep = "{\\rtf1 a" + QByteArray(10000, '{') + "b" + QByteArray(10000, '}') + "c}";
    EXPECT_EQ(formats::rtfBody(deep).text, QStringLiteral("abc"));
    EXPECT_EQ(formats::rtfBody("{\\rtf1 a" + QByteArray(100000, '{') + "b").text, QStringLiteral("ab"));
}

TEST(WithLeadingText, GoesAfterTheHeaderBeforeTheText)
{
    struct Case {
        const char *why, *before, *after; // the document is before + after
    };
    const Case cases[] = {
        { "after the header groups and the control words",
            R"({\rtf1\ansi\deff0{\fonttbl{\f0 A;}}{\colortbl;\red1\green2\blue3;}{\stylesheet{\s0 N;}})"
            R"({\info{\title t}}{\*\generator g;}
\pard\plain\f0 )",
            R"(Text\par})" },
        { "before a group that holds text and the blanks in front of it", R"({\rtf1{\fonttbl{\f0 A;}})",
            R"( {\b Bold} x})" },
        { "before a control word that is text", R"({\rtf1{\fonttbl{\f0 A;}})", R"(\par x})" },
        { "before the end of a document without text", R"({\rtf1{\fonttbl{\f0 A;}})", R"(})" },
        { "before the first tag of encapsulated HTML", R"({\rtf1\fromhtml1{\fonttbl{\f0 A;}})",
            R"({\*\htmltag19 <html>}x{\*\htmltag27 </html>}})" },
    };
    const QString header = QStringLiteral("From:\tJörg <j@example.org>\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QByteArray before(c.before);
        const QByteArray after(c.after);
        const QByteArray rtf = formats::withLeadingText(before + after, header);
        ASSERT_TRUE(rtf.startsWith(before) && rtf.endsWith(after)) << rtf.toStdString();
        const QByteArray inserted = rtf.mid(before.size(), rtf.size() - before.size() - after.size());
        const formats::RtfBody body = formats::rtfBody(rtf);
        if (body.isHtml) {
            EXPECT_TRUE(inserted.startsWith("{\\htmlrtf")) << "the HTML read back is the original's";
            EXPECT_EQ(body.text, QStringLiteral("<html>x</html>"));
        } else {
            EXPECT_TRUE(body.text.startsWith(QStringLiteral("From:\tJörg <j@example.org>\n")))
                << body.text.toStdString();
        }
    }
    EXPECT_EQ(formats::withLeadingText("no rtf", header), QByteArray());
}

} // namespace

// Text that comes in pieces gives the paragraphs of the text whole, wherever it is split: between the halves
// of a surrogate pair, around a line end, before a last line without one.
TEST(RtfParagraphs, PiecesGiveWhatTheWholeGives)
{
    const QString texts[] = { QStringLiteral("a\tb {c}\\\nzwei\n"), QStringLiteral("x\U0001F389y\n\nend"),
        QStringView(u"lone \xD83D half\n\xDE00").toString(), QStringLiteral("\r\n"), QString() };
    for (const QString& text : texts) {
        const QByteArray whole = quillbox::formats::rtfParagraphs(text);
        for (qsizetype at = 0; at <= text.size(); ++at) {
            quillbox::formats::RtfParagraphs pieces;
            pieces.write(QStringView(text).first(at));
            pieces.write(QStringView(text).sliced(at));
            EXPECT_EQ(pieces.finish(), whole) << text.toStdString() << " split at " << at;
        }
    }
}
