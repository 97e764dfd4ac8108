// The library's strings are narrow, in the locale's encoding; the window's
// are Unicode. Every text that crosses goes through these two.
#pragma once

#include <QByteArray>
#include <QString>

namespace rigbench {

inline QByteArray toLibraryText(const QString& text) { return text.toLocal8Bit(); }
// A missing text (null) reads as empty.
inline QString fromLibraryText(const char* text) { return text == nullptr ? QString() : QString::fromLocal8Bit(text); }

}  // namespace rigbench
