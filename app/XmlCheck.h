#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <chrono>
#include <optional>
#include <string_view>

namespace app {

// Reads a text as XML 1.0 in slices, so that a long document can be checked between the window
// system's events, and finds the first place where it stops being well-formed.
class XmlCheck {
public:
    struct Problem {
        qint64 line = 1; // 1-based
        QString message; // for the user: "line 12: mismatched tag"
    };

    // `text` must stay unchanged and alive until the check is done or dropped.
    explicit XmlCheck(std::string_view text);
    XmlCheck(const XmlCheck&) = delete;
    XmlCheck& operator=(const XmlCheck&) = delete;

    // Reads on for about `budget`; true once the whole text has been judged.
    bool step(std::chrono::milliseconds budget);
    // Reads to the end.
    void run();
    bool done() const { return done_; }
    // The first fault, once done; none for a well-formed document.
    const std::optional<Problem>& problem() const { return problem_; }

private:
    QByteArray raw_;
    QBuffer device_;
    QXmlStreamReader reader_;
    bool done_ = false;
    std::optional<Problem> problem_;
};

} // namespace app
