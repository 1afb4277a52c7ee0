// Writes velmora-flash's bash completion: the template with @OPTIONS@ replaced by every option of the
// parser's table and @VALUE_OPTIONS@ by those that take a value, as a case pattern.
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "cli/Options.h"

int main(int argc, char** argv) {
    using namespace velmora::cli;
    std::ifstream in(argc == 3 ? argv[1] : "");
    std::stringstream script;
    script << in.rdbuf();
    std::string text = script.str();
    std::set<std::string> seen;
    std::string options;
    std::string valueOptions;
    for (const OptionRow& row : optionTable()) {
        const std::string name = row.name;
        if (!seen.insert(name).second) {
            continue;
        }
        options += (options.empty() ? "" : " ") + name;
        options += row.takes == Takes::OptionalValue ? " " + name + "=" : "";
        valueOptions += row.takes != Takes::Value ? "" : (valueOptions.empty() ? "" : " | ") + name;
    }
    for (const auto& [placeholder, words] :
         {std::pair{"@OPTIONS@", options}, {"@VALUE_OPTIONS@", valueOptions}}) {
        const std::size_t at = text.find(placeholder);
        if (at == std::string::npos) {
            std::cerr << "usage: velmora-flash-completion TEMPLATE OUTPUT (a template holding " << placeholder
                      << ")\n";
            return 2;
        }
        text.replace(at, std::string(placeholder).size(), words);
    }
    std::ofstream out(argv[2]);
    out << text;
    return out.flush() ? 0 : 1;
}
