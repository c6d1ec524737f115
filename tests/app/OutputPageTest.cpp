#include "Fixture.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/PushCheckBox.h"
#include "app/TextEditor.h"
#include "app/look/Look.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>

namespace {

class OutputPage : public WizardTest {
protected:
    app::Form4& page() {
        exportTable(QStringLiteral("Products"));
        press(wizard->form3().Check7);
        return wizard->form4();
    }
};

// What "Finish" writes for an unedited preview is what the command line's export writes, for the
// values that editors tend to change as well.
TEST_F(OutputPage, AwkwardValuesReachTheFileAsTheCommandLineWritesThem) {
    sql("CREATE TABLE Notes (id int, body [nvarchar(50)]);"
        "INSERT INTO Notes VALUES (1, 'one' || char(10) || 'two'), (2, char(8232) || char(8233)),"
        " (3, 'a' || char(160) || char(128512) || char(13) || 'b');");
    exportTable(QStringLiteral("Notes"));
    press(wizard->form3().Check7);
    app::Form4& p = wizard->form4();
    p.Text1->setText(path("wizard.xml"));
    press(p.Check6);
    const QByteArray written = readFile(path("wizard.xml"));
    EXPECT_EQ(written, cliExport(QStringLiteral("Notes")));
    EXPECT_TRUE(written.contains("<body>\u2028\u2029</body>"));
    EXPECT_TRUE(written.contains("<body>a\u00A0\U0001F600&#xD;b</body>"));
    EXPECT_TRUE(written.contains("<body>one\r\ntwo</body>"));
}

TEST_F(OutputPage, FinishWritesOnlyAFileItCanAndThenBecomesExitWhichEndsTheProgram) {
    app::Form4& p = page();
    EXPECT_TRUE(p.Text1->text().isEmpty()); // as the page loads
    press(p.Check6);
    EXPECT_EQ(p.Check6->text(), QStringLiteral("Finish"));
    EXPECT_TRUE(host.messages.empty() && host.questions.empty());
    EXPECT_EQ(host.ends, 0);

    p.Text1->setText(QStringLiteral("typed.xml"));
    press(p.Check5); // cancelled, never chosen before
    EXPECT_TRUE(p.Text1->text().isEmpty());
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].filters, (strings({"XML Files (*.xml)", "All Files (*)"})));
    EXPECT_TRUE(host.dialogs[0].selected.isEmpty());

    host.dialogAnswers.push_back(path("chosen.xml"));
    press(p.Check5);
    EXPECT_EQ(p.Text1->text(), path("chosen.xml"));
    p.Text1->setText(QStringLiteral("typed.xml"));
    press(p.Check5); // cancelled
    EXPECT_EQ(p.Text1->text(), path("chosen.xml"));
    EXPECT_EQ(host.dialogs.back().selected, path("chosen.xml"));
    EXPECT_TRUE(p.isVisible());

    // A folder counts as existing, and a failed write keeps "Finish".
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    p.Text1->setText(path("sub"));
    press(p.Check6);
    EXPECT_EQ(host.questions.size(), 1u); // asked about the folder, answered Yes
    ASSERT_EQ(host.messages.size(), 1u);  // and the write failed
    EXPECT_TRUE(host.messages[0].contains(path("sub"))) << host.messages[0].toStdString();
    EXPECT_EQ(p.Check6->text(), QStringLiteral("Finish"));
    EXPECT_EQ(p.pointer().setting(), look::Default);

    p.Text1->setText(path("missing/out.xml"));
    press(p.Check6);
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(p.Check6->text(), QStringLiteral("Finish"));

    // Corrected, it writes the preview as it stands, and "Finish" becomes "Exit".
    wizard->form3().RichTextBox1->append(QStringLiteral("\r\n<!-- edited -->"));
    p.Text1->setText(path("out.xml"));
    press(p.Check6);
    EXPECT_EQ(readFile(path("out.xml")), previewFile());
    EXPECT_TRUE(readFile(path("out.xml")).endsWith("<!-- edited -->\r\n"));
    EXPECT_EQ(p.Check6->text(), QStringLiteral("Exit"));
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(p.pointer().setting(), look::Default);
    EXPECT_EQ(host.ends, 0);

    // Back, Refresh and Next again: still the path and "Exit".
    press(p.Check8);
    press(wizard->form3().Check17);
    press(wizard->form3().Check7);
    EXPECT_EQ(p.Text1->text(), path("out.xml"));
    EXPECT_EQ(p.Check6->text(), QStringLiteral("Exit"));

    QFile::remove(path("out.xml"));
    press(p.Check6);
    EXPECT_EQ(host.ends, 1);
    EXPECT_FALSE(QFile::exists(path("out.xml"))); // "Exit" writes nothing
}

TEST_F(OutputPage, AnExistingFileIsReplacedOnlyAfterYes) {
    app::Form4& p = page();
    const QByteArray old(100000, 'o');
    ASSERT_TRUE(writeFile(path("old.xml"), old));
    p.Text1->setText(path("old.xml"));
    host.answerYes = false;
    press(p.Check6);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.questions[0],
              QStringLiteral("Are you sure you wish to overwrite %1 ?").arg(path("old.xml")));
    EXPECT_EQ(readFile(path("old.xml")), old);
    EXPECT_EQ(p.Check6->text(), QStringLiteral("Exit")); // declined still counts as done

    wizard.reset();
    host = RecordingHost();
    app::Form4& again = page();
    again.Text1->setText(path("old.xml"));
    // While the question is on screen the preview's buffer may be rearranged (here an edit made
    // and taken back moves Scintilla's gap into the middle): Finish writes the text as it is
    // once the question is answered.
    const std::string before(wizard->form3().previewText());
    host.duringQuestion = [this] {
        app::TextEditor& preview = *wizard->form3().RichTextBox1;
        preview.SendScintilla(QsciScintillaBase::SCI_INSERTTEXT, 10ul, "x");
        preview.SendScintilla(QsciScintillaBase::SCI_DELETERANGE, 10ul, 1l);
    };
    press(again.Check6);
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(wizard->form3().previewText(), before);
    EXPECT_EQ(readFile(path("old.xml")), previewFile()); // nothing of the longer old file is left
}

} // namespace
