#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace app {

class TextEditor;

// What assistive tools get of a TextEditor: its text through the text and editable-text
// interfaces, read through Scintilla a range at a time, and the caret's moves and the user's
// edits as they happen.
namespace TextEditorAccessible {

// Makes every TextEditor answer with the interface above; once per program, any number of calls.
void install();

// The well-formedness mark came or went: the editor's description changed.
void markChanged(TextEditor& editor);

} // namespace TextEditorAccessible

} // namespace app
