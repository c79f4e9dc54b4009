#include "app/ChangeLog.h"
#include "app/Placement.h"
#include "app/qt/TForm2.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBlock>
#include <gtest/gtest.h>

namespace {

QString str(const char* utf8) {
    return QString::fromUtf8(utf8);
}

std::vector<QString> logLines() {
    std::vector<QString> lines;
    for (const char* l : app::changeLogLines)
        lines.push_back(QString::fromUtf8(l));
    return lines;
}

// dd/mm/yy as a sortable yymmdd number.
int dateKey(const QString& date) {
    return date.mid(6, 2).toInt() * 10000 + date.mid(3, 2).toInt() * 100 + date.left(2).toInt();
}

TEST(ChangeLog, EntriesRunFromSevenZeroToAThreeInOrder) {
    const QRegularExpression entry(
        str("^v ([0-9A-F])\\.([0-9A-F])( {1,2}): (\\d\\d/\\d\\d/\\d\\d) :( {1,2})(\\S.*)$"));
    std::vector<QString> versions;
    int previousDate = 0;
    for (const QString& line : logLines()) {
        const auto m = entry.match(line);
        if (!m.hasMatch()) continue;
        const QString version = m.captured(1) + '.' + m.captured(2);
        SCOPED_TRACE(version.toStdString());
        versions.push_back(version);
        // Two spaces before the colon from 9.6 on; one space before the text in the four oldest.
        EXPECT_EQ(m.captured(3).size(), version >= str("9.6") ? 2 : 1);
        EXPECT_EQ(m.captured(5).size(), versions.size() <= 4 ? 1 : 2);
        const int date = dateKey(m.captured(4));
        EXPECT_GE(date, previousDate);
        previousDate = date;
    }
    ASSERT_EQ(versions.size(), 40u);
    std::vector<QString> expected;
    for (const char* major : {"7", "8", "9"})
        for (const char* minor : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"})
            expected.push_back(str(major) + '.' + str(minor));
    for (const char* v : {"9.A", "9.B", "9.C", "9.D", "9.E", "9.F", "A.0", "A.1", "A.2", "A.3"})
        expected.push_back(str(v));
    EXPECT_EQ(versions, expected);

    const auto lines = logLines();
    EXPECT_TRUE(lines.front().startsWith(str("v 7.0 : 25/11/04 : ")));
    // The newest entry carries the title panel's version and date.
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const QString& l) { return l.startsWith(str("v A.3  : 28/10/15 :  ")); }),
        1);
}

TEST(ChangeLog, ContinuationsBlankLinesAndTail) {
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 100u);
    int continuations = 0;
    int blanksInside = 0;
    std::size_t lastText = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.startsWith(str("v "))) {
            lastText = i;
        } else if (!line.trimmed().isEmpty()) {
            SCOPED_TRACE(line.toStdString());
            ++continuations;
            const int indent = line.indexOf(QRegularExpression(str("\\S")));
            EXPECT_GE(indent, 21);
            EXPECT_LE(indent, 32);
            // It belongs to the entry (or continuation) right above it.
            EXPECT_EQ(lastText, i - 1);
            lastText = i;
        } else if (i < 70) {
            ++blanksInside;
            EXPECT_TRUE(lines[i - 1].startsWith(str("v A.0  : "))) << i;
        }
    }
    EXPECT_EQ(continuations, 32);
    EXPECT_EQ(blanksInside, 1);

    // After the newest entry's continuation: 23 empty lines and 4 lines of one space.
    ASSERT_EQ(lastText, 72u);
    EXPECT_TRUE(lines[71].startsWith(str("v A.3")));
    for (std::size_t i = 73; i < 96; ++i)
        EXPECT_EQ(lines[i], QString()) << i;
    for (std::size_t i = 96; i < 100; ++i)
        EXPECT_EQ(lines[i], str(" ")) << i;
}

TEST(ChangeLogWindow, ReadOnlyMemoWithVerticalScrollBarOnly) {
    app::qt::TForm2 form;
    EXPECT_EQ(form.windowTitle(), str("log de auterações"));
    EXPECT_EQ(form.size(), QSize(674, 463)); // outer 682 x 497 less a usual frame
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::Window));
    EXPECT_EQ(form.Labelatual->text(), str("ATUALIZAÇÕES"));
    EXPECT_EQ(form.Labelatual->geometry(), QRect(160, 8, 156, 24));
    EXPECT_TRUE(form.Labelatual->font().bold());
    EXPECT_EQ(form.Labelatual->font().pointSize(), 14);

    EXPECT_EQ(form.Memolog->geometry(), QRect(8, 32, 625, 393));
    EXPECT_TRUE(form.Memolog->isReadOnly());
    EXPECT_TRUE(form.Memolog->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    EXPECT_EQ(form.Memolog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form.Memolog->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    ASSERT_EQ(form.Memolog->document()->blockCount(), 100);
    const auto lines = logLines();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(form.Memolog->document()->findBlockByNumber(i).text(), lines[i]) << i;

    form.show();
    EXPECT_TRUE(form.Memolog->hasFocus() || form.focusWidget() == form.Memolog);
    form.close();
    EXPECT_FALSE(form.isVisible());
}

// The text box follows the window's size, keeping its margins.
TEST(ChangeLogWindow, TextBoxFollowsAResize) {
    app::qt::TForm2 form;
    const QSize margins =
        form.size() - QSize(form.Memolog->geometry().right(), form.Memolog->geometry().bottom());
    form.show();
    for (QSize size : {QSize(400, 300), QSize(900, 700)}) {
        form.resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(form.size() -
                      QSize(form.Memolog->geometry().right(), form.Memolog->geometry().bottom()),
                  margins)
            << size.width() << " x " << size.height();
    }
}

// A window larger than the screen (the change log at a scale of 2 on 1280 x 800) shrinks to it
// and keeps its title bar on the screen; smaller ones are centred.
TEST(WindowPlacement, CentredAndNeverBeyondTheScreen) {
    struct Case {
        app::ScreenRect area;
        int width, height;
        app::ScreenRect want;
    };
    const Case cases[] = {
        {{0, 0, 1280, 800}, 682, 497, {299, 151, 682, 497}},
        {{0, 0, 1280, 800}, 1364, 994, {0, 0, 1280, 800}},
        {{0, 0, 640, 376}, 682, 497, {0, 0, 640, 376}}, // 1280 x 800 at 2, in device units
        {{100, 50, 800, 600}, 900, 300, {100, 200, 800, 300}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app::centredWithin(c.area, c.width, c.height), c.want) << c.width;
}

} // namespace
