// Reading a large settings file: our one-pass reader against inih, both collecting
// every value of every section as text. The file (about 20 MB, 100 000 sections of
// eight keys) is generated once in the temporary folder.
#include <benchmark/benchmark.h>
#include <ini.h>
#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/KsFastIniReader.h"

namespace {

constexpr int kSections = 100000;
constexpr int kKeys = 8;

std::string SectionName(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "Disc%06d", i);
    return name;
}

const char* const kKeyNames[kKeys] = {"Title", "Artist", "Genre", "Year", "Tracks", "Length", "Offsets", "Comment"};

const std::string& BenchFile()
{
    static const std::string file = [] {
        const std::string path = (std::filesystem::temp_directory_path() / "vantrel-bench-ini.ini").string();
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < kSections; ++i) {
            out << "\r\n[" << SectionName(i) << "]\r\n";
            for (int k = 0; k < kKeys; ++k)
                out << kKeyNames[k] << "=track " << k << " of " << i << "\r\n";
        }
        return path;
    }();
    return file;
}

void OurReader(benchmark::State& state)
{
    std::vector<std::string> names;
    for (int i = 0; i < kSections; ++i)
        names.push_back(SectionName(i));
    for (auto _ : state) {
        std::vector<std::string> values;
        values.reserve(kSections * kKeys);
        vantrel::TKsFastIniReader reader(BenchFile());
        for (const std::string& name : names) {
            reader.OpenSection(name);
            for (const char* key : kKeyNames)
                values.push_back(reader.ReadString(key, ""));
        }
        if (values.size() != static_cast<std::size_t>(kSections * kKeys) || values.back().empty())
            state.SkipWithError("values missing");
        benchmark::DoNotOptimize(values.data());
    }
}

int CollectValue(void* user, const char*, const char*, const char* value)
{
    static_cast<std::vector<std::string>*>(user)->emplace_back(value);
    return 1;
}

void Inih(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<std::string> values;
        values.reserve(kSections * kKeys);
        ini_parse(BenchFile().c_str(), CollectValue, &values);
        if (values.size() != static_cast<std::size_t>(kSections * kKeys))
            state.SkipWithError("values missing");
        benchmark::DoNotOptimize(values.data());
    }
}

BENCHMARK(OurReader)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Inih)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
