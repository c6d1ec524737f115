#include "app/TablePreview.h"

#include "Fixture.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "convert/ConvertTextToXml.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

namespace {

class TablePreview : public WizardTest {
protected:
    // Products shown in the preview, then back on the table page with Customers chosen.
    app::Form2& backWithCustomersChosen() {
        exportTable(QStringLiteral("Products"));
        press(wizard->form3().Check8);
        app::Form2& tables = wizard->form2();
        tables.List1->setCurrentItem(
            tables.List1->findItems(QStringLiteral("Customers"), Qt::MatchExactly).constFirst());
        return tables;
    }
    // Too little memory for a preview, the offered save taken, and `name` chosen for the file.
    void saveWithoutPreviewTo(const char* name, std::uint64_t memory = 0) {
        host.memory = memory;
        host.takeOffer = true;
        host.dialogAnswers = {path(name)};
    }
};

TEST_F(TablePreview,
       TooLittleMemoryForTheXmlOffersTheSaveDeclinedLeavingThePagesAndTakenWritingTheExport) {
    app::Form2& tables = backWithCustomersChosen();
    app::Form3& o = wizard->form3();
    const std::string text(o.Text1->bytes());
    const std::string preview(o.previewText());
    // Room for the text as it comes, and a byte too little once its XML is counted.
    const std::string csv =
        CSVXML::ExtractTableText(login(), {QStringLiteral("dbo"), QStringLiteral("Customers")});
    const QByteArray file = cliExport(QStringLiteral("Customers"));
    const auto xml = static_cast<qint64>(file.size() - 2);
    const auto lines = std::uint64_t(std::count(csv.begin(), csv.end(), '\n')) + 1;
    const auto xmlLines = std::uint64_t(file.count('\n'));
    std::uint64_t room = 0;
    for (std::uint64_t step = std::uint64_t{1} << 40; step > 0; step /= 2)
        if (!app::previewFits(csv.size(), lines, std::uint64_t(xml), xmlLines, room + step))
            room += step;
    ASSERT_TRUE(app::previewFits(csv.size(), lines, csv.size(), lines, room));
    host.memory = room;
    press(tables.Check3);
    ASSERT_EQ(host.offers.size(), 2u);
    EXPECT_TRUE(host.offers[0].contains(
        QStringLiteral("takes %1,")
            .arg(QLocale::system().formattedDataSize(xml, 1, QLocale::DataSizeSIFormat))))
        << host.offers[0].toStdString() << " " << xml;
    EXPECT_EQ(host.offers[1], QStringLiteral("Save Without Preview"));
    EXPECT_TRUE(tables.isVisible());
    EXPECT_FALSE(o.isVisible());
    EXPECT_EQ(o.Text1->bytes(), text);
    EXPECT_EQ(o.previewText(), preview);
    EXPECT_TRUE(host.dialogs.empty());
    EXPECT_EQ(wizard->existingForm4(), nullptr);

    // Taken, the save of a table whose rows are counted puts the bar back at its end.
    host.takeOffer = true;
    host.dialogAnswers = {path("streamed.xml")};
    press(tables.Check3);
    EXPECT_EQ(readFile(path("streamed.xml")), file);
    EXPECT_EQ(tables.ProgressBar1->value(), 0);
}

// The text comes in blocks of whole lines and its XML is counted as the rows come: joined, the
// blocks are the text, and the count is the conversion's, whatever the block size, for blocks
// of a few bytes as for blocks of several large pages.
TEST_F(TablePreview, TheTextInBlocksIsTheWholeTextAndItsXmlIsCountedExactly) {
    app::Form3& o = start().form3();
    o.Text4->setText(QStringLiteral("r"));
    const CSVXML::ConversionOptions options = o.options();
    std::vector<std::string> lines{"id,name", "1,\"a,b\"", "2,\"two\r\nlines\"", "3,x&y"};
    const auto check = [&](std::optional<std::size_t> blockSize) {
        std::string whole = lines[0];
        for (std::size_t i = 1; i < lines.size(); ++i)
            whole += "\r\n" + lines[i];
        app::PreviewText text = blockSize ? app::PreviewText(std::nullopt, options, *blockSize)
                                          : app::PreviewText(std::nullopt, options);
        text.header(lines[0]);
        for (std::size_t i = 1; i < lines.size(); ++i)
            text.row(lines[i]);
        const CSVXML::XmlSize size = text.xmlSize();
        const std::vector<app::TextBlock>& blocks = text.blocks();
        EXPECT_EQ(blocks.size() > 1, blockSize == 5 || whole.size() > (1u << 20));
        std::string joined;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(i > 0, blocks[i].view().starts_with("\r\n")) << i;
            joined += blocks[i].view();
        }
        EXPECT_EQ(joined, whole);
        EXPECT_EQ(text.size(), whole.size());
        EXPECT_EQ(text.lines(), lines.size());
        const CSVXML::XmlSize measured = CSVXML::MeasureXml(whole, options);
        EXPECT_EQ(size.bytes, measured.bytes);
        EXPECT_EQ(size.lineBreaks, measured.lineBreaks);
        EXPECT_EQ(size.rows, static_cast<std::int64_t>(lines.size()) - 1);
    };
    check(5);
    check(std::nullopt);
    // 12 MB: the blocks grow from small ones to several large pages each.
    for (int i = 0; lines.size() < 400'000; ++i)
        lines.push_back(std::to_string(i) + ",\"" + std::string(i % 50, 'v') + "\r\n\"");
    check(std::nullopt);
    // The first line that would not fit stops the extraction; the offer tells the size the
    // text would have had.
    std::uint64_t room = 0;
    while (!app::previewFits(9, 2, 9, 2, room))
        room += 1;
    app::PreviewText small(room, options, 4);
    small.header("id,nam");
    EXPECT_THAT([&] { small.row("1,a"); }, testing::Throws<app::TooLargeForPreview>(testing::Field(
                                               &app::TooLargeForPreview::textSoFar, 11u)));
}

// With too little memory for the old XML and the new side by side, Refresh lets the old go
// first and still shows the new one whole.
TEST_F(TablePreview, RefreshWithRoomForOneXmlOnlyStillShowsTheNewOne) {
    exportTable(QStringLiteral("Customers"));
    app::Form3& o = wizard->form3();
    o.Text4->setText(QStringLiteral("customer"));
    host.memory = 1;
    press(o.Check17);
    CSVXML::StringSink expected;
    CSVXML::ConvertTextToXml(o.Text1->bytes(), o.options(), expected);
    EXPECT_EQ(o.previewText(), expected.text);
    EXPECT_TRUE(o.previewText().find("<customer>") != std::string_view::npos);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(o.Check7->isEnabled());
}

// What the text holds that UTF-8 could not take is told with the preview as well; what the file
// holds that a strict reader or UTF-8 could not take is told in the command line's words: a
// character XML 1.0 cannot hold (written as a reference), a lone surrogate.
TEST_F(TablePreview, ThePreviewAndTheSaveWithoutPreviewTellWhatTheCommandLineTells) {
    sql("CREATE TABLE Halves (id int, body [nvarchar(10)]);"
        "INSERT INTO Halves VALUES (1, 'ok');"
        "INSERT INTO Halves VALUES (2, CAST(x'61EDA08062' AS TEXT));"
        "INSERT INTO Halves VALUES (3, 'a' || char(1));");
    const QString lone = QStringLiteral("1 lone UTF-16 surrogates (halves of a character without "
                                        "their other half) were written as U+FFFD; the first is "
                                        "at row 2, column 'body'");
    exportTable(QStringLiteral("Halves"));
    EXPECT_TRUE(wizard->form3().isVisible());
    EXPECT_EQ(host.messages, std::vector<QString>{lone});
    press(wizard->form3().Check8);
    saveWithoutPreviewTo("halves.xml");
    press(wizard->form2().Check3);
    EXPECT_TRUE(wizard->form4().isVisible());
    EXPECT_TRUE(readFile(path("halves.xml")).contains("a&#x1;"));
    EXPECT_EQ(host.messages,
              (std::vector<QString>{
                  lone,
                  QStringLiteral("1 characters that XML 1.0 cannot hold were written as character "
                                 "references, which strict XML readers refuse; the first is at "
                                 "row 3, column 'body'"),
                  lone}));
}

// A delimited text that alone leaves no room for its preview is not read to its end.
TEST_F(TablePreview, ATextTooLargeForThePreviewStopsTheExtractionAndOffersTheSave) {
    // A limit of 10 bytes: the column names already pass it.
    saveWithoutPreviewTo("streamed.xml", 40);
    // The number of rows is not known: the bar shows that the work goes on.
    int busyBar = -1;
    host.duringOffer = [&] {
        server.firstRowDelay(std::chrono::milliseconds(300));
        QTimer::singleShot(150, [&] { busyBar = wizard->form2().ProgressBar1->maximum(); });
    };
    exportTable(QStringLiteral("Customers"));
    EXPECT_EQ(busyBar, 0);
    EXPECT_EQ(wizard->form2().ProgressBar1->maximum(), 100);
    ASSERT_EQ(host.offers.size(), 2u);
    EXPECT_TRUE(host.offers[0].contains(QStringLiteral("takes more than")))
        << host.offers[0].toStdString();
    EXPECT_TRUE(wizard->form3().Text1->bytes().empty());
    // Taken, the save writes what the export writes, and ends as "Finish" does.
    EXPECT_EQ(readFile(path("streamed.xml")), cliExport(QStringLiteral("Customers")));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(wizard->form4().isVisible());
    EXPECT_EQ(wizard->form4().Text1->text(), path("streamed.xml"));
    EXPECT_EQ(wizard->form4().Check6->text(), QStringLiteral("Exit"));
    EXPECT_EQ(wizard->form2().ProgressBar1->value(), 0);
}

// A save that fails on the server, or that is cancelled while the server has stopped, leaves the
// old file and no half-written one.
TEST_F(TablePreview, AFailedOrCancelledSaveWithoutPreviewLeavesTheOldFileAndNoHalfWrittenOne) {
    app::Form2& tables = backWithCustomersChosen();
    ASSERT_TRUE(writeFile(path("old.xml"), "old"));
    saveWithoutPreviewTo("old.xml");
    // The table goes while the question is on screen: the export then fails on the server.
    host.duringOffer = [this] { sql("DROP TABLE Customers;"); };
    press(tables.Check3);
    ASSERT_EQ(host.questions.size(), 1u); // the overwrite question, answered Yes
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].startsWith(QStringLiteral("The XML file was not saved: ")))
        << host.messages[0].toStdString();
    EXPECT_EQ(readFile(path("old.xml")), "old");
    EXPECT_TRUE(tables.isVisible());
    EXPECT_EQ(wizard->existingForm4(), nullptr);

    tables.List1->setCurrentRow(1);
    saveWithoutPreviewTo("old.xml");
    // Then the server stops after the other table's first row: neither the rows nor the cancel are
    // answered, and the work stays in the driver with its new file open.
    host.duringOffer = [&] {
        server.stallAfterRows(1);
        QTimer::singleShot(300, [&] { press(tables.Check1); });
    };
    press(tables.Check3);
    ASSERT_EQ(host.ends, 1);
    EXPECT_TRUE(wizard->leavesWorkBehind());
    // Still stopped, the work not returned (it would remove its file as it went): only the old
    // file is there.
    const QStringList files =
        QDir(folder.path())
            .entryList({QStringLiteral("old.xml*")}, QDir::Files | QDir::Hidden | QDir::System);
    EXPECT_EQ(files, QStringList{QStringLiteral("old.xml")});
    EXPECT_EQ(readFile(path("old.xml")), "old");
    server.stallAfterRows(-1); // the work returns, and the wizard can go
}

TEST_F(TablePreview, CancelDuringTheSaveWithoutPreviewEndsAtOnceAndLeavesTheOldFile) {
    app::Form2& tables = backWithCustomersChosen();
    ASSERT_TRUE(writeFile(path("old.xml"), "old"));
    saveWithoutPreviewTo("old.xml");
    host.duringOffer = [&] {
        server.firstRowDelay(std::chrono::seconds(4));
        QTimer::singleShot(150, [&] { press(tables.Check1); });
    };
    QElapsedTimer clock;
    clock.start();
    press(tables.Check3);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(host.ends, 1);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(readFile(path("old.xml")), "old");
}

} // namespace
