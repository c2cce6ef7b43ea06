#pragma once
// The help window: shows a compiled HTML help file's default topic in a window owned by
// the caller, reading the file with chmlib and following its links inside the window.
#include <QString>
#include <stdexcept>

class QWidget;

namespace ts::ui {

class Prompts;

// The display-topic command, the only one offered.
inline constexpr unsigned HH_DISPLAY_TOPIC = 0;

// "ts_help.chm" in the program's folder (the build tree), else where an installed program
// keeps it (../share/tessaly); the program's folder when neither has it, so the error names it.
QString helpFilePath();

// A help file that cannot be opened or holds no topic; the text names the file.
class EHelpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// fileName may end in "::/topic.html" to open that topic instead of the default one.
// Returns the help window (shown, deleted when closed). Throws EHelpError.
QWidget* HtmlHelp(QWidget* caller, const QString& fileName, unsigned command = HH_DISPLAY_TOPIC, unsigned data = 0);

// HtmlHelp with its failure shown as an error box naming the file; nullptr then.
QWidget* ShowHelp(Prompts& prompts, QWidget* caller, const QString& fileName);

}  // namespace ts::ui
