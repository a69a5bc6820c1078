// The web page's files (tools/racksim/web), built into the program so that it serves its page
// wherever it is installed.
#pragma once

#include <cstddef>
#include <string>

namespace racksim {

struct WebFile {
    const char* name;  // "index.html"
    const unsigned char* data;
    size_t size;
};

// The file of that name, null for any other.
const WebFile* find_web_file(const std::string& name);

}  // namespace racksim
