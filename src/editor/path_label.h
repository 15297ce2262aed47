#pragma once

#include "controls/basic_controls.h"

#include <optional>
#include <string>

namespace qevra {

// A path as the editor shows it: its bytes decoded as file names are.
QString shownPath(std::string_view path);

// A path label of the copies editor: it holds the exact path (bytes) of its
// column's file and shows it decoded, or shows a marker ("Пусто",
// "Файл удален") and holds no path. Actions take the held path, never the
// displayed text.
class PathLabel : public controls::Label {
public:
    PathLabel(const QString& marker, QWidget* parent)
        : controls::Label(marker, parent)
    {
    }

    void setPath(std::string_view path);
    void setMarker(const QString& marker);

    // The held path; nothing while a marker shows.
    const std::optional<std::string>& path() const { return path_; }

private:
    std::optional<std::string> path_;
};

} // namespace qevra
