// SPDX-License-Identifier: MIT
#pragma once
// File paths between Qt's text and std::filesystem: UTF-16 on Windows, the
// local 8-bit file name encoding elsewhere, so that any name round-trips.

#include <QFile>
#include <QString>

#include <filesystem>

namespace glitchwerk {

inline std::filesystem::path ToPath(const QString& text) {
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(text).toStdString());
#endif
}

inline QString ToText(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

} // namespace glitchwerk
