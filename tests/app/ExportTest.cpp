#include "Fixture.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "app/look/Look.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>

namespace {

class Export : public WizardTest {
protected:
    app::Form3& options() { return wizard->form3(); }

    // What the preview should hold: the table's delimited text converted in one piece.
    std::string expectedPreview(const std::string& delimited,
                                const CSVXML::ConversionOptions& settings = {}) {
        CSVXML::StringSink sink;
        CSVXML::ConvertTextToXml(delimited, settings, sink);
        return sink.text;
    }
    std::string delimited(const QString& table) {
        return CSVXML::ExtractTableText(login(), {QStringLiteral("dbo"), table});
    }
};

TEST_F(Export, NextOnTheTablePageFillsTheTextAndThePreviewAndRefreshConvertsThemAgain) {
    exportTable(QStringLiteral("Customers"));
    app::Form2& tables = wizard->form2();
    app::Form3& o = options();
    const std::string csv = delimited(QStringLiteral("Customers"));
    EXPECT_TRUE(o.isVisible());
    EXPECT_FALSE(tables.isVisible());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(o.Text1->bytes(), csv);
    EXPECT_EQ(o.previewText(), expectedPreview(csv));
    EXPECT_TRUE(o.Check7->isEnabled());
    EXPECT_EQ(tables.ProgressBar1->value(), 0);
    EXPECT_EQ(tables.pointer().setting(), look::Default);
    EXPECT_EQ(o.pointer().setting(), look::Default);
    EXPECT_EQ(o.focusWidget(), o.Check17);
    // The user may edit the preview once the run is over.
    EXPECT_FALSE(o.RichTextBox1->isReadOnly());

    // Refresh converts again with the options and the text as they stand; typed lines are joined
    // with CR LF.
    o.Text4->setText(QStringLiteral("customer"));
    o.Text5->setText(QStringLiteral("Customers"));
    o.Check2->setChecked(false);
    o.Check1->setChecked(false);
    press(o.Check17);
    CSVXML::ConversionOptions settings;
    settings.rowTag = "customer";
    settings.xmlTag = "Customers";
    settings.useRowTags = false;
    settings.headerRow = false;
    EXPECT_EQ(o.previewText(), expectedPreview(csv, settings));
    EXPECT_EQ(o.pointer().setting(), look::Default);

    const std::string before(o.previewText());
    press(o.Check5); // "Clear"
    EXPECT_TRUE(o.Text1->isEmptyText());
    EXPECT_EQ(o.previewText(), before);
    press(o.Check17);
    EXPECT_EQ(o.previewText(), expectedPreview("", settings));

    QTest::keyClicks(o.Text1, QStringLiteral("a,b"));
    QTest::keyClick(o.Text1, Qt::Key_Return);
    QTest::keyClicks(o.Text1, QStringLiteral("1,2"));
    EXPECT_EQ(o.Text1->bytes(), "a,b\r\n1,2");
    press(o.Check17);
    EXPECT_EQ(o.previewText(), expectedPreview("a,b\r\n1,2", settings));
}

TEST_F(Export, TheOptionsPagesNextIsEnabledWhileThePreviewHoldsTextAndTheBusyPointerCoversIt) {
    exportTable(QStringLiteral("Products"));
    app::Form3& o = options();
    QApplication::setActiveWindow(&o);
    EXPECT_NE(o.focusWidget(), o.RichTextBox1);
    QTest::mousePress(o.RichTextBox1->viewport(), Qt::RightButton); // the right button focuses too
    EXPECT_EQ(o.focusWidget(), o.RichTextBox1);
    o.RichTextBox1->selectAll();
    QTest::keyClick(o.RichTextBox1, Qt::Key_Delete);
    EXPECT_TRUE(o.previewText().empty());
    EXPECT_FALSE(o.Check7->isEnabled());
    press(o.Check7);
    EXPECT_EQ(wizard->existingForm4(), nullptr);
    QTest::keyClicks(o.RichTextBox1, QStringLiteral("x"));
    EXPECT_TRUE(o.Check7->isEnabled());

    // While the page is busy the preview shows the wait cursor, its margin included.
    QWidget* view = o.RichTextBox1->viewport();
    const auto moveOver = [view](QPoint at) {
        QTest::mouseMove(view, at + QPoint(1, 0));
        QTest::mouseMove(view, at);
        return view->cursor().shape();
    };
    const QPoint text(view->width() / 2, 5);
    const QPoint margin(3, 5); // the fold margin
    o.pointer().setSetting(look::Busy);
    EXPECT_EQ(moveOver(text), Qt::WaitCursor);
    EXPECT_EQ(moveOver(margin), Qt::WaitCursor);
    o.pointer().setSetting(look::Default);
    EXPECT_EQ(moveOver(text), Qt::IBeamCursor);

    press(o.Check7);
    ASSERT_NE(wizard->existingForm4(), nullptr);
    EXPECT_TRUE(wizard->existingForm4()->isVisible());
    EXPECT_FALSE(o.isVisible());
}

TEST_F(Export, AFailedExportShowsTheDriversMessageAndKeepsTheOptionsPageAsItWas) {
    exportTable(QStringLiteral("Customers"));
    app::Form3& o = options();
    const std::string textBefore(o.Text1->bytes());
    const std::string previewBefore(o.previewText());
    press(o.Check8);
    app::Form2& tables = wizard->form2();
    tables.List1->setCurrentRow(1);
    server.dropAfterRows(1); // the second row never comes
    press(tables.Check3);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].contains(QStringLiteral("Unexpected EOF")))
        << host.messages[0].toStdString(); // the driver's own words
    EXPECT_EQ(host.messageParents[0], &tables);
    EXPECT_TRUE(tables.isVisible());
    EXPECT_FALSE(o.isVisible());
    EXPECT_EQ(o.Text1->bytes(), textBefore);
    EXPECT_EQ(o.previewText(), previewBefore);
    EXPECT_EQ(tables.pointer().setting(), look::Default);

    // Still usable.
    server.dropAfterRows(-1);
    press(tables.Check3);
    EXPECT_TRUE(o.isVisible());
    EXPECT_EQ(o.previewText(), expectedPreview(delimited(QStringLiteral("Products"))));
}

TEST_F(Export, ANameThatTwoSchemasHoldShowsItsSchemaAndTheChosenOneIsExported) {
    sql("CREATE TABLE Customers (region [nvarchar(10)]); INSERT INTO Customers VALUES ('North');",
        "sales");
    app::Form2& tables = startOnTables();
    QStringList shown = entries(*tables.List1);
    shown.sort();
    EXPECT_EQ(shown, strings({"Products", "dbo.Customers", "sales.Customers"}));
    const auto chosen =
        tables.List1->findItems(QStringLiteral("sales.Customers"), Qt::MatchExactly);
    ASSERT_EQ(chosen.size(), 1);
    tables.List1->setCurrentItem(chosen.constFirst());
    press(tables.Check3);
    EXPECT_EQ(options().Text1->bytes(), "region\r\nNorth");
}

} // namespace
