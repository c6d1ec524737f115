#include "app/LoadedDocument.h"

#include "app/Qsci.h"

#include <cstdint>
#include <new>

namespace app {

// Scintilla's loader interface, as its headers declare it (the Qt build does not install them):
// a document being loaded, given its text piece by piece and then handed over whole. The object
// behind it is Scintilla's, whose type information names Scintilla's own declaration: the
// sanitizer's check of the dynamic type is left out of the calls below, which match it.
class LoadedDocument::Loader {
public:
    virtual int Release() = 0;
    // 0, or one of Scintilla's SC_STATUS_ codes.
    virtual int AddData(const char* data, std::ptrdiff_t length) = 0;
    virtual void* ConvertToDocument() = 0;

protected:
    ~Loader() = default;
};

// As many as the threads that make documents at once (the table's text and its XML); another
// waits for one of them.
constexpr int kEditors = 2;

class DocumentMaker::Lease {
public:
    explicit Lease(DocumentMaker& maker) : maker_(maker) {
        std::unique_lock lock(maker_.mutex_);
        maker_.editorFree_.wait(lock, [this] { return !maker_.free_.empty(); });
        editor_ = std::move(maker_.free_.back());
        maker_.free_.pop_back();
    }
    ~Lease() {
        {
            const std::lock_guard lock(maker_.mutex_);
            maker_.free_.push_back(std::move(editor_));
        }
        maker_.editorFree_.notify_one();
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    QsciScintillaBase* operator->() const { return editor_.get(); }

private:
    DocumentMaker& maker_;
    std::unique_ptr<QsciScintillaBase> editor_;
};

DocumentMaker::DocumentMaker() {
    for (int i = 0; i < kEditors; ++i)
        free_.push_back(std::make_unique<QsciScintillaBase>());
}

DocumentMaker::~DocumentMaker() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    queued_.notify_all();
    if (releaser_.joinable())
        releaser_.join();
}

void* DocumentMaker::makeLoader(std::size_t bytes, int documentOptions) {
    const Lease editor(*this);
    return reinterpret_cast<void*>(editor->SendScintilla(QsciScintillaBase::SCI_CREATELOADER,
                                                         static_cast<unsigned long>(bytes),
                                                         static_cast<long>(documentOptions)));
}

void DocumentMaker::release(void* document) {
    const Lease editor(*this);
    editor->SendScintilla(QsciScintillaBase::SCI_RELEASEDOCUMENT, 0ul,
                          static_cast<long>(reinterpret_cast<std::intptr_t>(document)));
}

namespace {
constexpr std::size_t kSpareRoom = 64u << 10;
} // namespace

#define TALLOWBY_SCINTILLA_CALL __attribute__((no_sanitize("vptr")))

void DocumentMaker::releaseLater(void* document) {
    {
        const std::lock_guard lock(mutex_);
        toRelease_.push_back(document);
        if (!releaser_.joinable())
            releaser_ = std::thread([this] { releaseQueued(); });
    }
    queued_.notify_all();
}

void DocumentMaker::releaseQueued() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return ending_ || !toRelease_.empty(); });
        if (toRelease_.empty())
            return; // ending, and nothing left
        void* const document = toRelease_.back();
        toRelease_.pop_back();
        lock.unlock();
        release(document);
        lock.lock();
    }
}

TALLOWBY_SCINTILLA_CALL LoadedDocument::LoadedDocument(DocumentMaker& maker, std::size_t bytes,
                                                       Layout layout)
    : maker_(maker), layout_(layout) {
    int options = layout.styled ? QsciScintillaBase::SC_DOCUMENTOPTION_DEFAULT
                                : QsciScintillaBase::SC_DOCUMENTOPTION_STYLES_NONE;
    if (layout.large)
        options |= QsciScintillaBase::SC_DOCUMENTOPTION_TEXT_LARGE;
    // Scintilla moves the whole text to a larger block when an insertion would fill its room
    // exactly: a little to spare keeps the last one in place.
    loader_ = static_cast<Loader*>(maker.makeLoader(bytes + kSpareRoom, options));
    if (!loader_)
        throw std::bad_alloc();
}

TALLOWBY_SCINTILLA_CALL LoadedDocument::~LoadedDocument() {
    if (loader_)
        loader_->Release();
}

TALLOWBY_SCINTILLA_CALL void LoadedDocument::append(std::string_view bytes) {
    if (bytes.empty())
        return;
    if (loader_->AddData(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size())) != 0)
        throw std::bad_alloc();
    size_ += bytes.size();
}

TALLOWBY_SCINTILLA_CALL void* LoadedDocument::take() {
    void* document = loader_->ConvertToDocument();
    loader_ = nullptr;
    return document;
}

} // namespace app
