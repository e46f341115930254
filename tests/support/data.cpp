#include "support/data.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ktest {

std::string slurp(const std::string &path)
{
    std::string out;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

std::string data_path(std::string_view name) { return std::string(KLASPNET_TEST_DATA "/").append(name); }

std::string data_file(std::string_view name) { return slurp(data_path(name)); }

std::string stored_page::json() const
{
    const size_t dot = file.rfind('.');
    return data_file(file.substr(0, dot) + ".json");
}

std::vector<stored_page> stored_pages()
{
    std::vector<stored_page> rows;
    std::istringstream in(data_file("pages.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream cols(line);
        stored_page r;
        std::string code;
        std::getline(cols, r.file, '\t');
        std::getline(cols, r.url, '\t');
        std::getline(cols, code, '\t');
        r.code = std::atoi(code.c_str());
        rows.push_back(r);
    }
    return rows;
}

} // namespace ktest
