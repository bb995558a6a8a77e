// Fuzz entry for the settings-file classes. Besides surviving any bytes, it checks
// what must hold for every input:
//  - every header the editor deletes was there, and one copy fewer remains;
//  - pairs cut from the input and written by the writer read back in order as written.
// A broken rule traps, so both libFuzzer and the replay test see it as a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/KsFastIniReader.h"
#include "support/KsFastIniWriter.h"
#include "support/TIniEditor.h"
#include "support/TextUtils.h"

namespace {

void Require(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void ReadEverything(std::string_view text)
{
    vantrel::TKsFastIniReader reader(vantrel::TKsFastIniReader::Text{text});
    std::vector<std::string> names;
    for (std::size_t at = 0; (at = text.find('[', at)) != std::string_view::npos && names.size() < 16; ++at) {
        const std::size_t close = text.find(']', at);
        if (close == std::string_view::npos)
            break;
        names.emplace_back(text.substr(at + 1, close - at - 1));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!reader.OpenSection(names[i], i % 2 == 1))
            continue;
        const std::string key = names[i].substr(0, names[i].size() / 2);
        reader.ReadString(key, "d");
        reader.ReadInteger(key, 0);
        reader.ReadBool(key, false);
        reader.ReadFloat(key, 0);
        reader.ReadCharset(key, 0);
        reader.ReadColor(key, 0);
    }
}

void DeleteEverything(std::string_view text)
{
    vantrel::TTIniEditor editor(vantrel::TTIniEditor::Text{text});
    std::vector<std::string> headers;
    for (const std::string& line : editor.Lines)
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
            headers.push_back(line);
    for (std::size_t i = 0; i < headers.size() && i < 8; ++i) {
        auto copies = [&] {
            std::size_t n = 0;
            for (const std::string& line : editor.Lines)
                n += line == headers[i];
            return n;
        };
        const std::size_t before = copies();
        const bool deleted = editor.DeleteSection(std::string_view(headers[i]).substr(1, headers[i].size() - 2), i % 2);
        Require(deleted == (before > 0));
        Require(copies() == before - (deleted ? 1 : 0));
    }
}

// Keys without "=", line ends or NUL that cannot end a section; values as the writer keeps them.
std::string Clean(std::string_view piece, bool isKey)
{
    std::string out;
    for (const char c : piece)
        if (c != '\r' && c != '\n' && c != '\0' && !(isKey && c == '='))
            out.push_back(c);
    if (isKey && !out.empty() && out.front() == '[')
        out.front() = '_';
    return isKey ? out : std::string(vantrel::TrimControl(out));
}

void WriteAndReadBack(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t at = 0; at < text.size() && pairs.size() < 32;) {
        const std::size_t keyLength = static_cast<unsigned char>(text[at]) % 8;
        const std::size_t valueLength = static_cast<unsigned char>(text[at]) / 8 % 16;
        const std::string_view rest = text.substr(at + 1);
        pairs.emplace_back(Clean(rest.substr(0, keyLength), true),
                           Clean(rest.substr(std::min(keyLength, rest.size()), valueLength), false));
        at += 1 + keyLength + valueLength;
    }
    vantrel::TKsFastIniWriter writer("");
    writer.WriteSection("S");
    for (const auto& [key, value] : pairs)
        writer.WriteString(key, value);
    std::string bytes;
    for (const std::string& line : writer.Lines())
        bytes += line + "\r\n";

    vantrel::TKsFastIniReader reader(vantrel::TKsFastIniReader::Text{bytes});
    Require(reader.OpenSection("S"));
    for (const auto& [key, value] : pairs)
        Require(reader.ReadString(key, "\x01missing") == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ReadEverything(text);
    DeleteEverything(text);
    WriteAndReadBack(text);
    return 0;
}
