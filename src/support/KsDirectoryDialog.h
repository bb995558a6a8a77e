// A folder chooser: shows the desktop's folder browser with a prompt, opened on an
// initial folder, and keeps the folder the user confirms. Used by the settings dialogs
// for their folder settings. User-interface thread only.
#pragma once

#include <string>

class QWidget;

namespace vantrel {

class TKsDirectoryDialog {
public:
    explicit TKsDirectoryDialog(QWidget* owner = nullptr) : Owner(owner) {}

    // True when the user confirmed a folder with a file-system path; it is then in
    // Directory. Cancelling gives false and leaves Directory as it was.
    bool Execute();

    std::string InitialDir; // paths are bytes in the file system's encoding
    std::string Title;      // the prompt shown in the browser
    std::string Directory;  // the chosen folder
    QWidget* Owner = nullptr;
};

} // namespace vantrel
