// Loads an existing settings file and deletes sections from it, so that the sections
// a writer did not produce (drives not connected now, say) can be appended to the
// writer's output and survive the save.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class TTIniEditor {
public:
    struct Text {
        std::string_view bytes;
    };

    // Loads the file if it exists; a missing or unreadable file gives no lines.
    explicit TTIniEditor(std::string fileName);
    explicit TTIniEditor(Text text);

    // Finds "[name]" as a reader would and removes it with every following line, empty
    // ones included, up to the next line that begins with "[" and contains "]".
    bool DeleteSection(std::string_view name, bool fromEnd = false);

    const std::string& FileName() const { return fileName_; }

    // The remaining lines, open to the caller.
    std::vector<std::string> Lines;

private:
    void Load(std::string_view text);
    std::string fileName_;
};

} // namespace vantrel
