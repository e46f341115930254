// The stored listing pages of tests/data and the manifest that names them
// (pages.tsv: file, page URL, expected klaspnet_parse status; the expected
// output is the .json file beside each page).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ktest {

// A whole file, bytes as they are; empty when it cannot be read.
std::string slurp(const std::string &path);

// Path of a file in tests/data, and its contents.
std::string data_path(std::string_view name);
std::string data_file(std::string_view name);

struct stored_page {
    std::string file; // e.g. "nginx_basic.html"
    std::string url;  // the URL the page was served from
    int code;         // what klaspnet_parse answers for it

    std::string page() const { return data_file(file); }
    // The expected output: the .json file of the same name.
    std::string json() const;
};

// The rows of pages.tsv, in order; comment lines and blank lines skipped.
std::vector<stored_page> stored_pages();

} // namespace ktest
