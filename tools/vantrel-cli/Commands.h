// The commands of vantrel-cli and their shared argument parsing: options of the form
// --name VALUE (or a bare --flag) and plain words, checked by each command.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace vantrel::cli {

struct Arguments {
    std::map<std::string, std::string> options;  // "--image" → "disc.cue"; flags map to ""
    std::vector<std::string> words;

    bool Parse(int argc, char** argv, std::string& error);
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Get(const std::string& name) const;
    // False (with a message) when an option outside allowed was given.
    bool Only(const std::set<std::string>& allowed, std::string& error) const;
};

int Drives(const Arguments& arguments);
int Toc(const Arguments& arguments);
int Rip(const Arguments& arguments);
int Play(const Arguments& arguments);
int IniGet(const Arguments& arguments);

}  // namespace vantrel::cli
