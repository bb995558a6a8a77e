#include "engine/WavFileName.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "support/TextUtils.h"

namespace vantrel {

namespace {
constexpr int kNumberedNames = 99;

bool Exists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

void CreateFolders(const std::filesystem::path& folder)
{
    std::error_code ignored; // a folder that cannot be made shows up when the file is written
    std::filesystem::create_directories(folder, ignored);
}
} // namespace

std::string SafeRelativePath(std::string_view text)
{
    std::string safe = SafeFileName(text, "-");
    for (char& c : safe)
        if (c == '\\')
            c = '-';
    std::string result;
    std::size_t start = 0;
    while (start <= safe.size()) {
        std::size_t end = safe.find('/', start);
        if (end == std::string::npos)
            end = safe.size();
        const std::string_view part = std::string_view(safe).substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            if (!result.empty())
                result.push_back('/');
            result.append(part);
        }
        start = end + 1;
    }
    return result;
}

std::string MakeWavFileName(std::string_view root, std::string_view album, std::string_view title)
{
    // With no root folder set, the files go to the working folder, never to "/".
    std::string folder = root.empty() ? std::string(".") : std::string(root);
    const std::string albumPath = SafeRelativePath(album);
    if (!albumPath.empty())
        folder += "/" + albumPath;
    const std::string base = folder + "/" + SafeRelativePath(title);
    CreateFolders(std::filesystem::path(base).parent_path());

    std::string name = base + ".wav";
    for (int attempt = 1; Exists(name) && attempt <= kNumberedNames; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%.2d", attempt);
        name = base + suffix + ".wav";
    }
    return name;
}

} // namespace vantrel
