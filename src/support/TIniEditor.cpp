#include "support/TIniEditor.h"

#include <algorithm>
#include <new>

#include "support/IniText.h"

namespace vantrel {

TTIniEditor::TTIniEditor(std::string fileName) : fileName_(std::move(fileName))
{
    const auto bytes = ini_detail::LoadFile(fileName_);
    Load(bytes.View());
}

TTIniEditor::TTIniEditor(Text text)
{
    Load(text.bytes);
}

void TTIniEditor::Load(std::string_view text)
{
    try {
        for (const std::string_view line : ini_detail::SplitLines(text))
            Lines.emplace_back(line);
    } catch (const std::bad_alloc&) {
        Lines.clear();
    }
}

bool TTIniEditor::DeleteSection(std::string_view name, bool fromEnd)
{
    const std::string header = ini_detail::Header(name);
    std::vector<std::string>::iterator first;
    if (fromEnd) {
        const auto found = std::find(Lines.rbegin(), Lines.rend(), header);
        if (found == Lines.rend())
            return false;
        first = std::prev(found.base());
    } else {
        first = std::find(Lines.begin(), Lines.end(), header);
        if (first == Lines.end())
            return false;
    }
    const auto last = std::find_if(std::next(first), Lines.end(),
                                   [](const std::string& line) { return ini_detail::EndsSection(line); });
    Lines.erase(first, last);
    return true;
}

} // namespace vantrel
