#pragma once

// QScintilla's headers use Qt's bare `signals` and `slots`, which this project switches off
// (QT_NO_KEYWORDS); they get the macro forms here, and only here.
#if defined(QT_NO_KEYWORDS)
#define signals Q_SIGNALS
#define slots Q_SLOTS
#endif
#include <Qsci/qscilexerxml.h>
#include <Qsci/qsciscintilla.h>
#if defined(QT_NO_KEYWORDS)
#undef signals
#undef slots
#endif
