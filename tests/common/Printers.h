#pragma once

#include "db/ConnectionSettings.h"

#include <QString>
#include <gmock/gmock.h>
#include <ostream>

// Matches a callable that throws `E` with a message holding `text`:
// EXPECT_THAT([&] { ... }, throwsWith<db::Error>("already read")).
template <typename E>
auto throwsWith(const std::string& text) {
    return testing::ThrowsMessage<E>(testing::HasSubstr(text));
}

inline QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Lets GoogleTest show our values as text in its failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace db {
inline void PrintTo(const ConnectionSettings& s, std::ostream* out) {
    *out << "{server \"" << s.server.toStdString() << "\", user \"" << s.user.toStdString()
         << "\", password \"" << s.password.toStdString() << "\", database \""
         << s.database.toStdString() << "\"}";
}
} // namespace db
