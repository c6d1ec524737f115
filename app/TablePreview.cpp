#include "app/TablePreview.h"

#include "app/Form3.h"
#include "app/Form4.h"
#include "app/Host.h"
#include "app/Page.h"
#include "app/TextEditor.h"
#include "app/Wizard.h"
#include "app/look/Look.h"
#include "convert/DelimitedText.h"
#include "db/Error.h"
#include "output/FileExists.h"
#include "output/SaveTextToFile.h"
#include "output/TableExport.h"

#include <QFile>
#include <QLocale>
#include <QProgressBar>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace app {

namespace {

// Makes the pages of a range present in one request (Linux 5.14).
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;
#endif

// Beyond what the preview itself takes: the rest of the program, the window system and the
// system's own needs, so that nothing has to be swapped out or killed to make room.
constexpr std::uint64_t kSpareMemory = 256u << 20;

// What a document of `bytes` in `lines` lines takes while it is filled: the text, and the start
// of each line in a table that grows in steps, with what the earlier steps freed and the next
// have not taken again.
std::uint64_t documentMemory(std::uint64_t bytes, std::uint64_t lines) {
    const std::uint64_t position = bytes > TextEditor::kLargeTextLimit ? 8 : 4;
    return bytes + lines * position * 5 / 2;
}

QString dataSize(std::uint64_t bytes) {
    return QLocale::system().formattedDataSize(static_cast<qint64>(bytes), 1,
                                               QLocale::DataSizeSIFormat);
}

QString tooLargeQuestion(const QString& xmlSize, std::optional<std::uint64_t> available) {
    return QStringLiteral("The XML of this table takes %1, and %2 of memory is available: too "
                          "little to show it in the preview.\n\nSave it straight to a file "
                          "instead?")
        .arg(xmlSize, dataSize(available.value_or(0)));
}

// The text is kept in blocks of this size (a longer line gets a block of its own): large enough
// that a block costs little to make, small enough that the text's memory is given back steadily
// while its document is made from it.
constexpr std::size_t kBlock = 16u << 20;

// The first block; each one after it is twice as large, up to kBlock.
constexpr std::size_t kFirstBlock = 64u << 10;

// The XML goes into its document in pieces of this size.
constexpr std::size_t kDocumentPiece = 256u << 10;

// Large pages hold this much; a block is laid out on their bounds.
constexpr std::size_t kLargePage = 2u << 20;

} // namespace

TextBlock::TextBlock(std::size_t capacity) : capacity_(capacity) {
    if (capacity == 0)
        return;
    // A block of a large page or more lies on their bounds, so that it can be made of them: one
    // large page more is asked for, and what lies outside the bounds is given back.
    const bool large = capacity >= kLargePage;
    const std::size_t unit = large ? kLargePage : static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mapped_ = (capacity + unit - 1) / unit * unit;
    const std::size_t asked = large ? mapped_ + kLargePage : mapped_;
    void* const start =
        mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED)
        throw std::bad_alloc();
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (at + unit - 1) / unit * unit;
    if (aligned > at)
        munmap(start, aligned - at);
    if (const std::size_t tail = at + asked - (aligned + mapped_); tail > 0)
        munmap(reinterpret_cast<void*>(aligned + mapped_), tail);
    data_ = reinterpret_cast<char*>(aligned);
    // Either may be refused (no large pages, an older system): the pages then come as the text
    // touches them.
    if (large)
        madvise(data_, mapped_, MADV_HUGEPAGE);
    madvise(data_, mapped_, kPopulateWrite);
}

TextBlock::~TextBlock() {
    release();
}

TextBlock::TextBlock(TextBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), mapped_(std::exchange(other.mapped_, 0)) {}

TextBlock& TextBlock::operator=(TextBlock&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

void TextBlock::append(std::string_view bytes) {
    if (bytes.empty())
        return; // an empty view may point nowhere, which memcpy may not be given
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
}

void TextBlock::release() {
    if (data_)
        munmap(data_, mapped_);
    data_ = nullptr;
    size_ = capacity_ = mapped_ = 0;
}

bool previewFits(std::uint64_t textBytes, std::uint64_t textLines, std::uint64_t xmlBytes,
                 std::uint64_t xmlLines, std::optional<std::uint64_t> available) {
    if (!available)
        return true; // nothing to go by: the preview is tried
    // The XML's room is made while the text's document still takes the text from its blocks.
    const std::uint64_t need =
        textBytes + documentMemory(textBytes, textLines) + documentMemory(xmlBytes, xmlLines);
    return need + need / 4 + kSpareMemory <= *available;
}

PreviewText::PreviewText(std::optional<std::uint64_t> available,
                         const CSVXML::ConversionOptions& options)
    : PreviewText(available, options, kBlock) {}

PreviewText::PreviewText(std::optional<std::uint64_t> available,
                         const CSVXML::ConversionOptions& options, std::size_t blockSize)
    : available_(available), blockSize_(blockSize), measure_(options) {}

void PreviewText::add(std::string_view lineBreak, std::string_view line) {
    const std::uint64_t bytes = lineBreak.size() + line.size();
    if (!previewFits(size_ + bytes, lines_ + 1, size_ + bytes, lines_ + 1, available_))
        throw TooLargeForPreview{size_ + bytes};
    if (blocks_.empty() || blocks_.back().room() < bytes) {
        // Small at first, so that a small table takes little, then twice the last up to the
        // block size.
        const std::size_t last = blocks_.empty() ? 0 : blocks_.back().view().size();
        const std::size_t next = std::min(blockSize_, std::max(kFirstBlock, 2 * last));
        blocks_.emplace_back(std::max<std::size_t>(next, bytes));
    }
    blocks_.back().append(lineBreak);
    blocks_.back().append(line);
    size_ += bytes;
    ++lines_;
    measure_.addLine(line);
}

void PreviewText::header(std::string_view line) {
    add({}, line);
}

void PreviewText::row(std::string_view line) {
    add(lines_ > 0 ? CSVXML::kLineBreak : std::string_view(), line);
}

CSVXML::XmlSize PreviewText::xmlSize() {
    if (!xmlSize_)
        xmlSize_ = measure_.finish();
    return *xmlSize_;
}

std::unique_ptr<LoadedDocument> documentFor(DocumentMaker& maker, TextEditor::Kind kind,
                                            std::size_t bytes) {
    return std::make_unique<LoadedDocument>(maker, bytes, TextEditor::layoutFor(kind, bytes));
}

void DocumentSink::append(std::string_view xml) {
    if (pending_.capacity() == 0)
        pending_.reserve(kDocumentPiece);
    pending_.append(xml);
    if (pending_.size() >= kDocumentPiece) {
        document_.append(pending_);
        pending_.clear();
    }
}

void DocumentSink::finish() {
    document_.append(pending_);
    std::string().swap(pending_);
}

namespace {

// The delimited text's document, made from the blocks, each let go of once it is in.
std::unique_ptr<LoadedDocument> textDocument(DocumentMaker& maker, PreviewText& source,
                                             db::Progress& progress) {
    auto text = documentFor(maker, TextEditor::Kind::Plain, source.size());
    for (TextBlock& block : source.blocks()) {
        // In pieces: Scintilla indexes the lines of one large insertion more slowly.
        const std::string_view bytes = block.view();
        for (std::size_t at = 0; at < bytes.size(); at += kDocumentPiece) {
            progress.serve();
            text->append(bytes.substr(at, kDocumentPiece));
        }
        block = TextBlock(0);
    }
    return text;
}

} // namespace

TablePreview::TablePreview(Wizard& wizard, Page& page, QProgressBar& bar)
    : wizard_(wizard), page_(page), bar_(bar) {}

bool TablePreview::run(const db::TableEntry& table, const CSVXML::ConversionOptions& options) {
    options_ = options;
    Host& host = wizard_.host();
    const std::optional<std::uint64_t> available = host.availableMemory();
    // What the work writes to lives with it: when the program ends during the work, the work
    // outlives this call until its thread has returned.
    struct Job {
        Job(std::optional<std::uint64_t> available, const CSVXML::ConversionOptions& given)
            : options(given), text(available, given) {}
        const CSVXML::ConversionOptions options;
        PreviewText text;
        CSVXML::ExtractResult extracted;
    };
    auto job = std::make_shared<Job>(available, options);
    // The table stopped before its end: the XML is larger than the text so far.
    const auto offerPartSeen = [&](std::uint64_t textSoFar) {
        job.reset(); // the save reads the table again, row by row
        offerSaveWithoutPreview(
            table,
            tooLargeQuestion(QStringLiteral("more than %1").arg(dataSize(textSoFar)), available),
            0);
        return false;
    };
    try {
        wizard_.runDatabaseWork([job, table, login = wizard_.connectionSettings(),
                                 timeout = wizard_.loginTimeout()](db::Progress& progress) {
            job->extracted = CSVXML::ExtractTableText(login, table, job->text, progress, timeout);
        });
    } catch (const db::Error& error) {
        host.showMessage(&page_, error.message());
        return false;
    } catch (const TooLargeForPreview& large) {
        return offerPartSeen(large.textSoFar);
    } catch (const std::bad_alloc&) {
        // The system had less memory to give than it said, before the text reached the bound.
        return offerPartSeen(job->text.size());
    }
    const CSVXML::XmlSize size = job->text.xmlSize();
    if (!previewFits(job->text.size(), job->text.lines(), size.bytes, size.lineBreaks + 1,
                     available)) {
        job.reset(); // the save reads the table again, row by row
        offerSaveWithoutPreview(table, tooLargeQuestion(dataSize(size.bytes), available),
                                size.rows);
        return false;
    }
    // The text's document, its blocks let go of as it takes them, and meanwhile the XML's room
    // on a thread of its own (it takes a while to make); then the options page converts the
    // text into that room as Refresh does.
    struct Documents {
        std::unique_ptr<LoadedDocument> text;
        std::unique_ptr<LoadedDocument> xml;
    };
    auto documents = std::make_shared<Documents>();
    try {
        wizard_.runDatabaseWork([job, documents, xmlBytes = size.bytes,
                                 &maker = wizard_.documentMaker()](db::Progress& progress) {
            std::exception_ptr roomFailure;
            std::thread room([&] {
                try {
                    documents->xml = documentFor(maker, TextEditor::Kind::Xml, xmlBytes);
                } catch (...) {
                    roomFailure = std::current_exception();
                }
            });
            const struct Join {
                std::thread& thread;
                ~Join() {
                    if (thread.joinable())
                        thread.join();
                }
            } join{room};
            documents->text = textDocument(maker, job->text, progress);
            room.join();
            if (roomFailure)
                std::rethrow_exception(roomFailure);
        });
        extracted_ = job->extracted;
        job.reset();
        wizard_.form3().showTable(*documents->text, std::move(documents->xml), bar_,
                                  page_.pointer());
    } catch (const std::bad_alloc&) {
        // The system had less memory to give than it said.
        bar_.setValue(0);
        job.reset();
        documents.reset();
        offerSaveWithoutPreview(table, tooLargeQuestion(dataSize(size.bytes), available),
                                size.rows);
        return false;
    }
    return true;
}

void TablePreview::offerSaveWithoutPreview(const db::TableEntry& table, const QString& question,
                                           std::int64_t rows) {
    if (wizard_.host().offer(&page_, question, QStringLiteral("Save Without Preview")))
        saveWithoutPreview(table, rows);
}

void TablePreview::saveWithoutPreview(const db::TableEntry& table, std::int64_t rows) {
    Wizard& wizard = wizard_;
    Page& page = page_;
    QProgressBar& bar = bar_;
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
    const auto job = std::make_shared<Export>(*path, options_);
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

} // namespace app
