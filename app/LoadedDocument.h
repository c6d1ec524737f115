#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

class QsciScintillaBase;

namespace app {

// Makes and lets go of Scintilla documents for threads other than the window's. A document is
// made through an editor; these are never shown and serve no other purpose, so the threads that
// use them share no state with the editors on the screen. Each is used by one thread at a time,
// and there are enough for the threads that fill documents at once.
class DocumentMaker {
public:
    // On the window's thread.
    DocumentMaker();
    ~DocumentMaker();
    DocumentMaker(const DocumentMaker&) = delete;
    DocumentMaker& operator=(const DocumentMaker&) = delete;

    // From any thread: Scintilla's loader for a document of `bytes`, its room made at once.
    void* makeLoader(std::size_t bytes, int documentOptions);
    // From any thread: drops one reference to a document, on a thread of the maker's own (a
    // large document's memory takes a while to give back); done before the maker goes.
    void releaseLater(void* document);

private:
    void release(void* document);
    void releaseQueued();

    // Takes an editor no other thread uses, for the time of one call.
    class Lease;
    std::mutex mutex_;
    std::vector<std::unique_ptr<QsciScintillaBase>> free_;
    std::condition_variable editorFree_;
    std::condition_variable queued_;
    std::vector<void*> toRelease_;
    bool ending_ = false;
    std::thread releaser_;
};

// A document filled away from the window's thread and shown by no editor until one takes it
// whole (TextEditor::takeDocument): Scintilla's loader, made for this. Its memory, its text and
// its index of line starts are all made on the thread that fills it, so that however large the
// text, the window's thread only puts it in place.
class LoadedDocument {
public:
    struct Layout {
        bool styled = false; // lexed and folded: small XML only
        bool large = false;  // 64-bit positions and line starts
    };

    // Room for `bytes`, made on the calling thread.
    LoadedDocument(DocumentMaker& maker, std::size_t bytes, Layout layout);
    // Lets go of the document unless an editor has taken it.
    ~LoadedDocument();
    LoadedDocument(const LoadedDocument&) = delete;
    LoadedDocument& operator=(const LoadedDocument&) = delete;

    // Adds at the end. Throws std::bad_alloc when Scintilla could not make room.
    void append(std::string_view bytes);
    std::size_t size() const { return size_; }
    Layout layout() const { return layout_; }

    // The document, with the one reference that was the loader's; nothing is left here.
    void* take();
    DocumentMaker& maker() const { return maker_; }

private:
    class Loader;
    DocumentMaker& maker_;
    Loader* loader_ = nullptr;
    Layout layout_;
    std::size_t size_ = 0;
};

} // namespace app
