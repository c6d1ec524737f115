#pragma once

// The steps after the export, with the full preview: "Finish" against `tallowby-cli convert`,
// and Ctrl+End and letters typed in the preview; with the printing of their figures.

#include "Bench.h"
#include "Session.h"
#include "app/TextEditor.h"

#include <string>
#include <utility>
#include <vector>

namespace benchapp {

// The editor's own repaint and the loop's turn: what it takes for the change to be on screen.
void showNow(app::TextEditor& editor);

struct Keystroke {
    double shown = 1e9; // the key, the repaint and the turn: what the user waits for
    double key = 1e9;   // the key's handling alone
};

// One letter typed where the caret is, shown; the best of `times` keystrokes.
Keystroke timeKeystroke(app::TextEditor& editor, int times);

struct Editing {
    Keystroke atEnd;
    Keystroke atStart;
    double ctrlEnd = 0;
    long styledTo = 0;       // SCI_GETENDSTYLED after Ctrl+End: how far the document was styled
    std::string lastLines;   // the last two lines after Ctrl+End, line breaks shown as " | "
    bool accessible = false; // an assistive tool's bridge is active (bench/app/run --accessible)
    double firstRead = 0;    // its first reading of the preview: the line index made for it
};

// In the full preview: Ctrl+End from the start, then letters typed at the end and at the
// start. Changes the preview, so it comes after every check of its bytes.
Editing timeEditing(app::TextEditor& editor);

struct Finishing {
    double finish = 0;  // "Finish" on the output page, pressed, and one turn after it
    double convert = 0; // `tallowby-cli convert -o FILE` of the page's delimited text, best
    std::vector<double> convertRuns;
    // The peak as it grows through the steps, to place what raises it.
    std::vector<std::pair<const char*, double>> peaks;
};

// "Finish" writes the preview to a new file, against `tallowby-cli convert` writing the same
// bytes from the same delimited text: the command line's whole path to such a file (read,
// convert, write) against the wizard's write alone. Both files must hold the preview's bytes
// and CR LF. Returns on the options page.
Finishing timeFinish(const Options& options, Session& session, int convertRuns);
void printFinishAndEditing(const Finishing& finishing, const Editing& editing);

} // namespace benchapp
