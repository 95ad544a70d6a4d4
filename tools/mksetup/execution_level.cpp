// The manifest (the RT_MANIFEST resource) of the setup program and of the
// uninstaller it carries, as mksetup makes it the maker's: the rights the
// program asks Windows for when it starts (the level of its
// "requestedExecutionLevel"), set per scope, and the name its
// assemblyIdentity gives it, the maker's and the product's. Only those
// values change; the manifest keeps every other byte, so that a program
// already saying so stays as it is.
#include "tools/mksetup/mksetup.h"

#include <string.h>

namespace mksetup {

namespace {

const uint16_t kManifestType = 24;

// Where the level's value lies in a manifest: its first and last byte
// (the quotes excluded); false when there is none.
bool FindLevel(const std::string& xml, size_t* start, size_t* end)
{
    size_t element = xml.find("<requestedExecutionLevel");
    if (element == std::string::npos)
        return false;
    size_t close = xml.find('>', element);
    if (close == std::string::npos)
        return false;
    // The attribute "level", not "uiAccess" or anything ending in it.
    for (size_t at = xml.find("level", element); at != std::string::npos && at < close;
         at = xml.find("level", at + 5)) {
        char before = xml[at - 1];
        if (before != ' ' && before != '\t' && before != '\r' && before != '\n')
            continue;
        size_t p = at + 5;
        while (p < close && (xml[p] == ' ' || xml[p] == '\t' || xml[p] == '\r' || xml[p] == '\n'))
            ++p;
        if (p >= close || xml[p] != '=')
            continue;
        ++p;
        while (p < close && (xml[p] == ' ' || xml[p] == '\t' || xml[p] == '\r' || xml[p] == '\n'))
            ++p;
        if (p >= close || (xml[p] != '"' && xml[p] != '\''))
            return false;
        size_t quote = xml.find(xml[p], p + 1);
        if (quote == std::string::npos || quote > close)
            return false;
        *start = p + 1;
        *end = quote;
        return true;
    }
    return false;
}

Resource* Manifest(PeImage* image)
{
    // The program's own manifest is ID 1; a program has one at most.
    Resource* found = FindImageResource(image, ResourceById(kManifestType), ResourceById(1));
    if (found)
        return found;
    for (Resource& r : image->resources)
        if (r.type == ResourceById(kManifestType))
            return &r;
    return nullptr;
}

}  // namespace

ExecutionLevelResult SetExecutionLevel(PeImage* image, const std::string& level)
{
    Resource* manifest = Manifest(image);
    if (!manifest)
        return LEVEL_NOT_ASKED;
    std::string xml(manifest->data.begin(), manifest->data.end());
    size_t start = 0, end = 0;
    if (!FindLevel(xml, &start, &end))
        return LEVEL_NOT_ASKED;
    if (xml.compare(start, end - start, level) == 0)
        return LEVEL_UNCHANGED;
    xml.replace(start, end - start, level);
    manifest->data.assign(xml.begin(), xml.end());
    return LEVEL_CHANGED;
}

std::string AssemblyName(const std::string& maker, const std::string& product, const char* role)
{
    std::string name;
    for (const std::string* part : {&maker, &product}) {
        std::string kept;
        for (char c : *part)
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
                kept += c;
        name += (kept.empty() ? "Product" : kept) + ".";
    }
    return name + role;
}

bool SetAssemblyName(PeImage* image, const std::string& name)
{
    Resource* manifest = Manifest(image);
    if (!manifest)
        return false;
    std::string xml(manifest->data.begin(), manifest->data.end());
    size_t element = xml.find("<assemblyIdentity");
    size_t close = element == std::string::npos ? element : xml.find('>', element);
    size_t attribute = close == std::string::npos ? close : xml.find(" name=\"", element);
    if (attribute == std::string::npos || attribute > close)
        return false;
    size_t start = attribute + 7, end = xml.find('"', start);
    if (end == std::string::npos || end > close || xml.compare(start, end - start, name) == 0)
        return false;
    xml.replace(start, end - start, name);
    manifest->data.assign(xml.begin(), xml.end());
    return true;
}

}  // namespace mksetup
