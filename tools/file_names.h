// What a file's name says about its type.
#pragma once

#include <cctype>
#include <string>

// The extension after the last dot of the file's name, in lower case; empty without one.
inline std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && slash != std::string::npos && dot < slash) return "";
    std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}
