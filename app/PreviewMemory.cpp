#include "app/PreviewMemory.h"

#include "app/Form3.h"
#include "app/Form4.h"
#include "app/Host.h"
#include "app/Page.h"
#include "app/TextEditor.h"
#include "app/Wizard.h"
#include "convert/ExtractTableText.h"
#include "db/Error.h"
#include "output/FileExists.h"
#include "output/SaveTextToFile.h"
#include "output/TableExport.h"

#include <QFile>
#include <QLocale>
#include <QProgressBar>
#include <algorithm>
#include <cstdlib> // names the C library, so that __GLIBC__ is known below
#include <memory>

namespace app {

namespace {

// Beyond what the preview itself takes: the rest of the program, the window system and the
// system's own needs, so that nothing has to be swapped out or killed to make room.
constexpr std::uint64_t kSpareMemory = 256u << 20;

QString dataSize(std::uint64_t bytes) {
    return QLocale::system().formattedDataSize(static_cast<qint64>(bytes), 1,
                                               QLocale::DataSizeSIFormat);
}

void saveWithoutPreview(Wizard& wizard, Page& page, const db::TableEntry& table, std::int64_t rows,
                        QProgressBar& bar) {
    Host& host = wizard.host();
    const Form4* shown = wizard.existingForm4();
    const std::optional<QString> path =
        host.chooseFile(&page, Form4::fileRequest(shown ? shown->dialogFileName() : QString()));
    if (!path || path->isEmpty())
        return;
    if (FileExists(*path) && !host.askYesNo(&page, CSVXML::overwriteMessage(*path)))
        return;
    const auto failed = [&](const QString& why) {
        bar.setValue(0);
        host.showMessage(&page, Form4::notSavedMessage(why));
    };
    // What the work writes to lives with it: when the program ends during the work, the work
    // outlives this call until its thread has returned.
    struct Export {
        Export(const QString& file, const CSVXML::ConversionOptions& given)
            : options(given), out(file, CSVXML::OutputStream::LineBreaks::CrLf) {}
        const CSVXML::ConversionOptions options;
        CSVXML::OutputStream out;
        CSVXML::TableExportResult result;
    };
    const auto job = std::make_shared<Export>(*path, wizard.form3().options());
    if (!job->out.open())
        return failed(job->out.error());
    // With the number of rows unknown (the text outgrew the preview before its end), the bar
    // shows that the work goes on rather than how far it is.
    const struct RangeBack {
        QProgressBar& bar;
        ~RangeBack() { bar.setRange(0, 100); }
    } rangeBack{bar};
    if (rows <= 0)
        bar.setRange(0, 0);
    try {
        wizard.runDatabaseWork(
            [job, table, login = wizard.connectionSettings(),
             timeout = wizard.loginTimeout()](db::Progress& progress) {
                job->result =
                    CSVXML::ExportTable(login, table, job->options, job->out, progress, timeout);
            },
            // The share of the rows already in the file.
            [&bar, rows](qint64 done, qint64) {
                if (rows > 0)
                    bar.setValue(static_cast<int>(
                        db::Progress::percent(std::min<std::int64_t>(done, rows), rows)));
            });
    } catch (const ProgramEnding&) {
        // The work may wait in the driver until the process ends, and the process does not wait
        // for it: the half-written file goes now. The work's own clean-up, should it come,
        // finds it gone.
        if (!job->out.temporaryPath().isEmpty())
            QFile::remove(job->out.temporaryPath());
        throw;
    } catch (const db::Error& error) {
        bar.setRange(0, 100);
        return failed(error.message()); // not committed: an old file stays as it was
    }
    bar.setRange(0, 100);
    bar.setValue(0);
    if (!job->out.commit())
        return failed(job->out.error());
    Form4& output = wizard.form4();
    output.showSaved(*path);
    wizard.move(page, output);
    // Told as the command line tells them: the file is kept, and a strict reader would refuse it.
    if (job->result.refused.count > 0)
        host.showMessage(&output, CSVXML::refusedCharactersMessage(job->result.refused));
    if (job->result.extracted.loneSurrogates > 0)
        host.showMessage(&output, CSVXML::loneSurrogatesMessage(job->result.extracted));
}

} // namespace

namespace {

// What the options page gives back when it is filled again.
std::uint64_t heldByOptionsPage(Form3& options) {
    return options.Text1->size() + options.RichTextBox1->size();
}

} // namespace

std::uint64_t previewTextLimit(Wizard& wizard) {
    const std::optional<std::uint64_t> available = wizard.host().availableMemory();
    if (!available)
        return ~std::uint64_t{0};
    return (*available + heldByOptionsPage(wizard.form3())) / 4;
}

namespace {

// Each block is reserved as large as the text before it, so that a large text comes in few
// blocks; reserved and not yet written, the room takes pages only as the text reaches it. Where
// the room costs nothing the first block is the largest: one block for most tables, which the
// preview's text takes again once it has gone.
constexpr std::uint64_t kLargestBlock = 256u << 20;
// The C library maps a block this large on its own, and its pages come only as they are
// written; the sanitizers' allocator touches what it hands out, so there the first is small.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__GLIBC__)
constexpr std::size_t kFirstBlock = 1u << 20;
#else
constexpr std::size_t kFirstBlock = kLargestBlock;
#endif

} // namespace

PreviewText::PreviewText(std::uint64_t limit, const CSVXML::ConversionOptions& options)
    : PreviewText(limit, options, kFirstBlock) {}

void PreviewText::Blocks::write(std::string_view bytes) {
    if (size + bytes.size() > limit)
        throw TooLargeForPreview{size + bytes.size()};
    if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < bytes.size()) {
        blocks.emplace_back();
        const std::uint64_t before =
            std::min(std::max<std::uint64_t>(size, firstBlock), kLargestBlock);
        const auto room = static_cast<std::size_t>(std::min(before, limit));
        blocks.back().reserve(std::max(room, bytes.size()));
    }
    blocks.back().append(bytes);
    size += bytes.size();
}

void PreviewText::header(std::string_view line) {
    joined_.header(line);
    measure_.addLine(line);
}

void PreviewText::row(std::string_view line) {
    joined_.row(line);
    measure_.addLine(line);
}

CSVXML::XmlSize PreviewText::xmlSize() {
    if (!xmlSize_)
        xmlSize_ = measure_.finish();
    return *xmlSize_;
}

void offerSaveWithoutPreview(Wizard& wizard, Page& page, const db::TableEntry& table,
                             std::uint64_t textSoFar, QProgressBar& bar) {
    const std::optional<std::uint64_t> available = wizard.host().availableMemory();
    const QString text =
        QStringLiteral("The XML of this table takes more than %1, and %2 of memory is available: "
                       "too little to show it in the preview.\n\nSave it straight to a file "
                       "instead?")
            .arg(dataSize(textSoFar), dataSize(available.value_or(0)));
    if (wizard.host().offer(&page, text, QStringLiteral("Save Without Preview")))
        saveWithoutPreview(wizard, page, table, 0, bar);
}

std::optional<CSVXML::XmlSize> measureForPreview(Wizard& wizard, Page& page,
                                                 const db::TableEntry& table, PreviewText& text,
                                                 QProgressBar& bar) {
    Form3& options = wizard.form3();
    const CSVXML::XmlSize size = text.xmlSize();
    const std::optional<std::uint64_t> available = wizard.host().availableMemory();
    if (!available)
        return size; // nothing to go by: the preview is tried
    // The new delimited text is copied into the options page; the old one and the old preview
    // are given back as the new ones come.
    const std::uint64_t freed = heldByOptionsPage(options);
    const std::uint64_t need =
        TextEditor::memoryToHold(size.bytes, size.lineBreaks + 1) + text.size();
    if (need + need / 4 + kSpareMemory <= *available + freed)
        return size;
    const QString question =
        QStringLiteral("The XML of this table takes %1, and %2 of memory is available: too "
                       "little to show it in the preview.\n\nSave it straight to a file instead?")
            .arg(dataSize(size.bytes), dataSize(*available));
    if (!wizard.host().offer(&page, question, QStringLiteral("Save Without Preview")))
        return std::nullopt;
    text.release(); // the save reads the table again, row by row
    saveWithoutPreview(wizard, page, table, size.rows, bar);
    return std::nullopt;
}

} // namespace app
